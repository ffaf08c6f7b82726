// The field table of a record class: each attribute written once, as one row
// of Python name, record member, conversions and docstring, from which the
// class's parameters, its descriptor table and its construction follow.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "slot_entries.hpp"

namespace kav::py {

// A string literal as a template argument.
template <std::size_t N>
struct Literal {
    char chars[N];
    constexpr Literal(const char (&text)[N]) noexcept {  // NOLINT: implicit on purpose
        for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
    }
};

template <class MemberPointer>
struct MemberTraits;
template <class Record, class Stored>
struct MemberTraits<Stored Record::*> {
    using RecordType = Record;
    using StoredType = Stored;
};

// One read-write attribute: the record member it lives in, Convert turning a
// Python value into the stored one (without the argument prefix: the callers
// add it), Make turning the stored one into a new Python object.
template <Literal Name, auto Member, auto Convert, auto Make, Literal Doc = "">
struct Field {
    using Record = typename MemberTraits<decltype(Member)>::RecordType;
    using Stored = typename MemberTraits<decltype(Member)>::StoredType;
    static constexpr const char* name = Name.chars;
    static constexpr const char* doc = Doc.chars;

    static PyResult<Ref> get(const Record& record) { return Make(record.*Member); }
    static PyResult<Stored> convert(PyObject* value) { return Convert(value); }
    static void store(Record& record, Stored&& value) noexcept {
        record.*Member = std::move(value);
    }
};

// Stands in for the initialiser of any one member: it converts to every type.
struct AnyMember {
    template <class T>
    operator T() const noexcept;  // never defined: used in unevaluated checks only
};

template <class Record, std::size_t... I>
consteval bool takes_initialisers(std::index_sequence<I...>) {
    return requires { Record{(static_cast<void>(I), AnyMember{})...}; };
}

// The number of members of the aggregate Record (at most Most): the most
// initialisers Record{...} accepts, one per member, as AnyMember needs no
// braces elided. Counted down, since a member without a default (an
// ICAOAddress) must be given.
template <class Record, std::size_t Most = 32>
consteval std::size_t member_count() {
    if constexpr (Most == 0 || takes_initialisers<Record>(std::make_index_sequence<Most>{})) {
        return Most;
    } else {
        return member_count<Record, Most - 1>();
    }
}

template <class... Fields>
struct FieldTable {
    // A member added to the record without a row here fails the build.
    using Record = typename std::tuple_element_t<0, std::tuple<Fields...>>::Record;
    static_assert((std::is_same_v<Record, typename Fields::Record> && ...),
                  "every row of a field table describes a member of the same record");
    static_assert(member_count<Record>() == sizeof...(Fields),
                  "a field table has one row for each member of its record");

    static constexpr std::array<std::string_view, sizeof...(Fields)> parameters{Fields::name...};

    // The class's descriptor table, ended by the empty entry.
    template <class Class>
    static inline std::array<PyGetSetDef, sizeof...(Fields) + 1> descriptors{
        attribute<Class, Fields>(Fields::doc)...,
        PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};

    // The record from one argument per field, converted in parameter order up
    // to the first failure, which is the result.
    static PyResult<Record> construct(Record record,
                                      const Arguments<sizeof...(Fields)>& arguments) {
        return construct_from(std::move(record), arguments, std::index_sequence_for<Fields...>{});
    }

  private:
    template <std::size_t... I>
    static PyResult<Record> construct_from(Record record,
                                           const Arguments<sizeof...(Fields)>& arguments,
                                           std::index_sequence<I...>) {
        PyResult<Done> status = done;
        (void)((status = convert_into<Fields>(record, arguments[I])) && ...);
        if (!status) return fail(std::move(status).error());
        return record;
    }

    template <class F>
    static PyResult<Done> convert_into(Record& record, PyObject* argument) {
        KAV_PY_TRY_ASSIGN(auto value, named(F::name, F::convert(argument)));
        F::store(record, std::move(value));
        return done;
    }
};

}  // namespace kav::py
