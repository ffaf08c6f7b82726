// Everything a class or function of this module is written with, in one
// include. Each header says its part: python_api.hpp and py_ref.hpp (Python
// only through them, references owned by Ref), pending_error.hpp (failures as
// values), call_guard.hpp (around every slot body), arg_matching.hpp,
// converters.hpp, borrow.hpp, instance.hpp and slot_entries.hpp (binding
// classes), lazy_type.hpp and once_cache.hpp (made on first use).
#pragma once

#include "arg_matching.hpp"
#include "borrow.hpp"
#include "call_guard.hpp"
#include "converters.hpp"
#include "instance.hpp"
#include "lazy_type.hpp"
#include "once_cache.hpp"
#include "pending_error.hpp"
#include "py_ref.hpp"
#include "python_api.hpp"
#include "slot_entries.hpp"
