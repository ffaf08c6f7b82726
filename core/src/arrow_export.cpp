// Schemas, arrays and streams over the decoded tables.
//
// Every exported struct gets a node of its own as private_data: the node owns
// the structs of its children and dictionary, and its destructor releases
// those the consumer has not moved out or released already. Releasing a
// struct deletes its node. Until a node is handed out, an exception unwinds
// through the nodes' destructors, so a half-built export frees itself.
#include "arrow_export.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "beacon_columns.hpp"

namespace kav {
namespace {

// ---------------------------------------------------------------------------
// Nodes and their release callbacks.

template <class Struct>
void release_part(Struct* part) noexcept {
    if (part != nullptr && part->release != nullptr) part->release(part);
}

template <class Struct>
struct Node {
    explicit Node(std::size_t n_children) : child_structs(n_children) {
        for (Struct& child : child_structs) {
            child.release = nullptr;  // not yet built: nothing to release
            children.push_back(&child);
        }
    }
    ~Node() {
        for (Struct* child : children) release_part(child);
        release_part(dictionary.get());
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    std::vector<Struct> child_structs;  // never resized: `children` points into it
    std::vector<Struct*> children;
    std::unique_ptr<Struct> dictionary;
};

using SchemaNode = Node<ArrowSchema>;

struct ArrayNode : Node<ArrowArray> {
    using Node::Node;
    std::shared_ptr<const void> table;  // keeps the buffers alive; null for static ones
    std::vector<const void*> buffers;
};

template <class NodeType, class Struct>
void release_node(Struct* part) noexcept {
    delete static_cast<NodeType*>(part->private_data);
    part->release = nullptr;
}

// Hands `node` over to `out`, which from now on owns it.
void adopt(ArrowSchema* out, std::unique_ptr<SchemaNode> node, const char* format,
           const char* name) noexcept {
    *out = ArrowSchema{
        .format = format,
        .name = name,
        .metadata = nullptr,
        .flags = 0,  // no column holds a null
        .n_children = static_cast<int64_t>(node->children.size()),
        .children = node->children.empty() ? nullptr : node->children.data(),
        .dictionary = node->dictionary.get(),
        .release = &release_node<SchemaNode, ArrowSchema>,
        .private_data = node.get(),
    };
    node.release();
}

void adopt(ArrowArray* out, std::unique_ptr<ArrayNode> node, std::size_t length) noexcept {
    *out = ArrowArray{
        .length = static_cast<int64_t>(length),
        .null_count = 0,
        .offset = 0,
        .n_buffers = static_cast<int64_t>(node->buffers.size()),
        .n_children = static_cast<int64_t>(node->children.size()),
        .buffers = node->buffers.data(),
        .children = node->children.empty() ? nullptr : node->children.data(),
        .dictionary = node->dictionary.get(),
        .release = &release_node<ArrayNode, ArrowArray>,
        .private_data = node.get(),
    };
    node.release();
}

// ---------------------------------------------------------------------------
// Column layouts. Buffer 0, the validity bitmap, is always null: no nulls.

// An empty column's buffers still need an address: consumers may read it.
const void* address_of(const void* data) noexcept {
    alignas(8) static constexpr std::uint8_t kNoBytes[8] = {};
    return data != nullptr ? data : kNoBytes;
}

template <class T>
std::vector<const void*> buffers_of(const ValueColumn<T>& column) {
    return {nullptr, address_of(column.values().data())};
}

std::vector<const void*> buffers_of(const FlagColumn& column) {
    return {nullptr, address_of(column.bits().data())};
}

std::vector<const void*> buffers_of(const TextColumn& column) {
    return {nullptr, column.offsets().data(), address_of(column.bytes().data())};
}

template <class Members>
std::vector<const void*> buffers_of(const DictionaryColumn<Members>& column) {
    return {nullptr, address_of(column.indices().data())};
}

// The text forms of a set's members, in index order: built once, kept for the
// life of the process, and exported without an owner.
template <class Members>
const TextColumn& dictionary_values() {
    static const TextColumn values = [] {
        TextColumn texts;
        for (std::size_t i = 0; i < Members::kCount; ++i) texts.append(Members::text(i));
        return texts;
    }();
    return values;
}

template <class Column>
constexpr bool kIsDictionary = false;
template <class Members>
constexpr bool kIsDictionary<DictionaryColumn<Members>> = true;

template <class Column>
std::unique_ptr<ArrowSchema> dictionary_schema() {
    if constexpr (kIsDictionary<Column>) {
        auto values = std::make_unique<ArrowSchema>();
        adopt(values.get(), std::make_unique<SchemaNode>(0), "u", nullptr);
        return values;
    } else {
        return nullptr;
    }
}

template <class Column>
void export_column(std::shared_ptr<const void> table, const Column& column, ArrowArray* out);

template <class Column>
std::unique_ptr<ArrowArray> dictionary_array() {
    if constexpr (kIsDictionary<Column>) {
        using Members = typename Column::Members;
        auto values = std::make_unique<ArrowArray>();
        export_column(nullptr, dictionary_values<Members>(), values.get());
        return values;
    } else {
        return nullptr;
    }
}

template <class Column>
void export_column(std::shared_ptr<const void> table, const Column& column, ArrowArray* out) {
    auto node = std::make_unique<ArrayNode>(0);
    node->buffers = buffers_of(column);
    node->dictionary = dictionary_array<Column>();
    node->table = std::move(table);
    adopt(out, std::move(node), column.size());
}

// ---------------------------------------------------------------------------
// Streams.

template <class Columns>
struct StreamState {
    std::shared_ptr<const Columns> table;
    bool sent = false;
    const char* last_error = nullptr;

    static StreamState& of(ArrowArrayStream* stream) noexcept {
        return *static_cast<StreamState*>(stream->private_data);
    }
    static int fail_out_of_memory(ArrowArrayStream* stream) noexcept {
        of(stream).last_error = "out of memory while exporting a decoded table";
        return ENOMEM;
    }

    static int get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
        try {
            export_schema<Columns>(out);
            return 0;
        } catch (const std::bad_alloc&) {
            return fail_out_of_memory(stream);
        }
    }
    static int get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
        StreamState& state = of(stream);
        if (state.sent) {
            out->release = nullptr;  // the end of the stream
            return 0;
        }
        try {
            export_batch<Columns>(state.table, out);
        } catch (const std::bad_alloc&) {
            return fail_out_of_memory(stream);
        }
        state.sent = true;
        return 0;
    }
    static const char* get_last_error(ArrowArrayStream* stream) noexcept {
        return of(stream).last_error;
    }
    static void release(ArrowArrayStream* stream) noexcept {
        delete &of(stream);
        stream->release = nullptr;
    }
};

}  // namespace

template <class Columns>
void export_schema(ArrowSchema* out) {
    auto node = std::make_unique<SchemaNode>(Columns::kColumns);
    std::size_t index = 0;
    Columns::for_each_field(
        [&]<class Column>(const char* name, const char* format, std::type_identity<Column>) {
            auto child = std::make_unique<SchemaNode>(0);
            child->dictionary = dictionary_schema<Column>();
            adopt(node->children[index++], std::move(child), format, name);
        });
    adopt(out, std::move(node), "+s", nullptr);
}

template <class Columns>
void export_batch(std::shared_ptr<const Columns> table, ArrowArray* out) {
    auto node = std::make_unique<ArrayNode>(Columns::kColumns);
    node->buffers = {nullptr};  // a struct array has only the validity bitmap
    std::size_t index = 0;
    table->for_each_column([&](const char*, const char*, const auto& column) {
        export_column(table, column, node->children[index++]);
    });
    node->table = table;
    adopt(out, std::move(node), table->rows());
}

template <class Columns>
void export_stream(std::shared_ptr<const Columns> table, ArrowArrayStream* out) {
    using State = StreamState<Columns>;
    auto state = std::make_unique<State>(State{std::move(table)});
    *out = ArrowArrayStream{
        .get_schema = &State::get_schema,
        .get_next = &State::get_next,
        .get_last_error = &State::get_last_error,
        .release = &State::release,
        .private_data = state.release(),
    };
}

template void export_schema<BeaconColumns>(ArrowSchema*);
template void export_schema<ErrorColumns>(ArrowSchema*);
template void export_batch<BeaconColumns>(std::shared_ptr<const BeaconColumns>, ArrowArray*);
template void export_batch<ErrorColumns>(std::shared_ptr<const ErrorColumns>, ArrowArray*);
template void export_stream<BeaconColumns>(std::shared_ptr<const BeaconColumns>, ArrowArrayStream*);
template void export_stream<ErrorColumns>(std::shared_ptr<const ErrorColumns>, ArrowArrayStream*);

// ---------------------------------------------------------------------------
// Comparing and describing schemas.

namespace {

// A missing text and an empty one say the same (a nameless top-level struct
// comes back from some consumers with the name "").
bool same_text(const char* a, const char* b) noexcept {
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

}  // namespace

bool same_schema(const ArrowSchema& a, const ArrowSchema& b) noexcept {
    if (!same_text(a.format, b.format) || !same_text(a.name, b.name)) return false;
    if (a.n_children != b.n_children) return false;
    for (int64_t i = 0; i < a.n_children; ++i) {
        if (!same_schema(*a.children[i], *b.children[i])) return false;
    }
    if ((a.dictionary == nullptr) != (b.dictionary == nullptr)) return false;
    return a.dictionary == nullptr || same_schema(*a.dictionary, *b.dictionary);
}

std::string describe_schema(const ArrowSchema& schema) {
    const std::string_view format = schema.format != nullptr ? schema.format : "?";
    std::string text;
    if (schema.dictionary != nullptr) {
        text =
            "dictionary<" + std::string(format) + ", " + describe_schema(*schema.dictionary) + ">";
    } else {
        text = format;
    }
    if (schema.n_children > 0) {
        text += '<';
        for (int64_t i = 0; i < schema.n_children; ++i) {
            const ArrowSchema& child = *schema.children[i];
            if (i > 0) text += ", ";
            text += child.name != nullptr ? child.name : "";
            text += ": ";
            text += describe_schema(child);
        }
        text += '>';
    }
    return text;
}

}  // namespace kav
