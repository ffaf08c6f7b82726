// The Arrow C data interface: the structs through which columnar libraries
// hand each other tables without copying. Their layout is a fixed ABI, shared
// by every producer and consumer; the guard macros are the ones all copies of
// these declarations use, so that this header and another copy can meet in
// one translation unit.
//
// Ownership: whoever holds a struct whose `release` is not null owns what it
// describes and calls `release` exactly once when done; `release` frees the
// producer's data and sets `release` to null. A consumer may move a struct
// (bitwise copy, then null the source's `release`), children included, and
// release each moved child on its own; releasing a parent then skips the
// children whose `release` is already null.
#pragma once

#include <stdint.h>  // the structs use the global int64_t

extern "C" {

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

// The type of a column: a format string ("L", "u", "+s", ...), its name, and
// for nested types its children; a dictionary-encoded column has the index
// type as its format and the value type in `dictionary`.
struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema** children;
    struct ArrowSchema* dictionary;
    void (*release)(struct ArrowSchema*);
    void* private_data;
};

// The data of a column: `length` rows from `offset` in its buffers, whose
// number and meaning the type fixes (buffer 0 is always the validity bitmap,
// which may be null when null_count is 0).
struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void** buffers;
    struct ArrowArray** children;
    struct ArrowArray* dictionary;
    void (*release)(struct ArrowArray*);
    void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

// A sequence of arrays of one type. Each callback returns 0 or an errno value;
// get_next leaves `out` released (null `release`) at the end of the stream.
// Schemas and arrays handed out are owned by the caller, apart from the stream.
struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
    const char* (*get_last_error)(struct ArrowArrayStream*);
    void (*release)(struct ArrowArrayStream*);
    void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE
}
