// Finished tables handed out through the Arrow C data interface, without
// copying a column: the exported arrays point into the table, and every one of
// them, children and dictionaries included, holds its own reference to it. So
// a consumer may release the parts in any order, or keep one column long after
// the rest, and the table lives until its last part is released.
//
// `Columns` is BeaconColumns or ErrorColumns. A table exports as one struct
// array (a record batch) whose children are its columns in their listed order;
// no column has nulls. The export functions write `out` only on success and
// throw std::bad_alloc, leaving `out` alone, when memory runs out.
#pragma once

#include <memory>
#include <string>

#include "arrow_c_abi.hpp"

namespace kav {

template <class Columns>
void export_schema(ArrowSchema* out);

template <class Columns>
void export_batch(std::shared_ptr<const Columns> table, ArrowArray* out);

// A stream that yields the table as its one batch.
template <class Columns>
void export_stream(std::shared_ptr<const Columns> table, ArrowArrayStream* out);

// Whether two schemas have the same types and names all the way down (flags
// and metadata aside: the data is the same either way).
bool same_schema(const ArrowSchema& a, const ArrowSchema& b) noexcept;

// A schema in short: "+s<line_number: L, kind: dictionary<c, u>>".
std::string describe_schema(const ArrowSchema& schema);

}  // namespace kav
