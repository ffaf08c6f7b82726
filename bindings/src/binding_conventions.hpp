// The conventions every Python-facing entry point of this module follows,
// in one include. In short:
//
// - python_api.hpp / py_ref.hpp: include Python only through these; change
//   reference counts only through incref/decref and own references with Ref.
// - pending_error.hpp: fallible steps return PyResult<T>; a failure is a
//   PendingError value; KAV_PY_TRY / KAV_PY_TRY_ASSIGN propagate it.
//   PendingError::internal_failure reports a broken invariant.
// - call_guard.hpp: wrap every slot body in guard_object / guard_status.
// - arg_matching.hpp: Signature + match_arguments (tuple/dict and vector
//   forms); named(name, conversion) adds the "argument '<name>': " prefix.
// - converters.hpp: to_text, to_double, to_bool, to_u32, type_mismatch.
// - borrow.hpp: BorrowFlag with SharedBorrow / ExclusiveBorrow guards.
// - instance.hpp: Instance<Value> layout, alloc_entry (a blank value from
//   allocation on), new_instance, new_instance_holding, read_argument (exact class,
//   shared borrow, copy), dealloc_entry.
// - slot_entries.hpp: new_entry, init_entry, attribute, repr_entry,
//   richcompare_entry templates for binding classes.
// - lazy_type.hpp: LazyType and instance_spec for type objects made on first use.
// - once_cache.hpp, interned_names.hpp: process-wide caches.
#pragma once

#include "arg_matching.hpp"
#include "borrow.hpp"
#include "call_guard.hpp"
#include "converters.hpp"
#include "instance.hpp"
#include "interned_names.hpp"
#include "lazy_type.hpp"
#include "once_cache.hpp"
#include "pending_error.hpp"
#include "py_ref.hpp"
#include "python_api.hpp"
#include "slot_entries.hpp"
