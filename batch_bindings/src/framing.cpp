#include "framing.hpp"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "decoding.hpp"
#include "input_bytes.hpp"
#include "line_framer.hpp"
#include "module_state.hpp"

namespace kav::batch {
namespace {

// ---------------------------------------------------------------------------
// Frame.

// What a Frame decodes: runs of one read held in place (the read's bytes
// pinned by `read.holder`), or of gathered copies (in `gathered.text`).
struct FrameContents {
    InputBytes read;
    std::vector<FramedRead> framed;
    GatheredLines::Taken gathered;
    std::size_t max_line_bytes = LineFramer::kNoLimit;

    std::vector<LineRun> runs() const {
        if (!framed.empty()) {
            std::vector<LineRun> runs;
            runs.reserve(framed.size());
            for (const FramedRead& part : framed) runs.push_back(part.run_of(read.view));
            return runs;
        }
        return gathered.runs();
    }
};

struct FrameObject {
    PyObject_HEAD FrameContents* contents;
};

FrameContents& contents_of(PyObject* self) noexcept {
    return *reinterpret_cast<FrameObject*>(self)->contents;
}

// A Frame for `framer` to fill, made before the framer moves on, so that no
// failure can come between taking lines from it and handing them out.
Owned allocate_frame(PyObject* framer) noexcept {
    return allocate_instance(as_type(state_of_type(Py_TYPE(framer)).frame_type));
}

PyObject* filled(Owned frame, std::unique_ptr<FrameContents> contents) noexcept {
    reinterpret_cast<FrameObject*>(frame.get())->contents = contents.release();
    return frame.release();
}

PyObject* frame_lines(PyObject* self, void* /*unused*/) noexcept {
    try {
        std::size_t lines = 0;
        for (const LineRun& run : contents_of(self).runs()) lines += count_lines(run);
        return PyLong_FromSize_t(lines);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

constexpr const char* kDecodeNames[] = {"first_line_number", "source", "received_from",
                                        "received_to"};

// decode(first_line_number=1, *, source=None, received_from=None,
// received_to=None): the frame's lines, numbered from first_line_number.
PyObject* frame_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    PyObject* values[std::size(kDecodeNames)];
    if (!parse_arguments({"decode", kDecodeNames, 1, 0}, args, nargs, kwnames, values)) {
        return nullptr;
    }
    Provenance provenance;
    if (!take_provenance(values[0], values[1], values[2], values[3], provenance)) return nullptr;
    try {
        const FrameContents& contents = contents_of(self);
        const std::vector<LineRun> runs = contents.runs();
        return decode_runs(state_of_type(Py_TYPE(self)), runs, contents.max_line_bytes,
                           provenance);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

void frame_dealloc(PyObject* self) noexcept {
    delete reinterpret_cast<FrameObject*>(self)->contents;
    free_instance(self);
}

PyMethodDef frame_methods[] = {
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&frame_decode)),
     METH_FASTCALL | METH_KEYWORDS,
     PyDoc_STR("decode($self, /, first_line_number=1, *, source=None, received_from=None, "
               "received_to=None)\n--\n\nThe frame's lines decoded into a Decoded, numbered from "
               "first_line_number; the interpreter lock is released meanwhile.")},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef frame_getset[] = {
    {"lines", &frame_lines, nullptr, PyDoc_STR("The number of lines the frame holds."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot frame_slots[] = {
    {Py_tp_doc, const_cast<char*>(PyDoc_STR("Whole lines framed from a stream, to be decoded."))},
    {Py_tp_dealloc, reinterpret_cast<void*>(&frame_dealloc)},
    {Py_tp_methods, frame_methods},
    {Py_tp_getset, frame_getset},
    {0, nullptr},
};

// ---------------------------------------------------------------------------
// LineFramer.

struct LineFramerObject {
    PyObject_HEAD GatheredLines* lines;  // its framer frames reads in place too
};

GatheredLines& gathered_of(PyObject* self) noexcept {
    return *reinterpret_cast<LineFramerObject*>(self)->lines;
}

LineFramer& framer_of(PyObject* self) noexcept {
    return gathered_of(self).framer();
}

constexpr const char* kNewNames[] = {"max_line_bytes"};

// LineFramer(max_line_bytes=0): 0 for no limit.
PyObject* framer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* limit = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwargs, "|O:LineFramer",
                                    const_cast<char**>(kNewNames), &limit) == 0) {
        return nullptr;
    }
    std::size_t max_line_bytes = LineFramer::kNoLimit;
    if (limit != nullptr) {
        max_line_bytes = PyLong_AsSize_t(limit);
        if (max_line_bytes == static_cast<std::size_t>(-1) && PyErr_Occurred() != nullptr) {
            return nullptr;
        }
    }
    Owned self = allocate_instance(type);
    if (!self) return nullptr;
    auto* lines = new (std::nothrow) GatheredLines(max_line_bytes);
    if (lines == nullptr) return PyErr_NoMemory();
    reinterpret_cast<LineFramerObject*>(self.get())->lines = lines;
    return self.release();
}

constexpr const char* kFrameNames[] = {"data", "size", "last"};

// frame(data, size=None, *, last=False): the whole lines that data[:size]
// ends, in place, or None; with `last`, the end of the input too (its
// unfinished line is a last line).
PyObject* framer_frame(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    PyObject* values[std::size(kFrameNames)];
    if (!parse_arguments({"frame", kFrameNames, 2, 1}, args, nargs, kwnames, values)) {
        return nullptr;
    }
    int last = 0;
    if (values[2] != nullptr && (last = PyObject_IsTrue(values[2])) < 0) return nullptr;
    try {
        Owned frame = allocate_frame(self);
        if (!frame) return nullptr;
        auto contents = std::make_unique<FrameContents>();
        if (!take_input_bytes(values[0], "frame", contents->read) ||
            !take_prefix(values[1], "frame", contents->read)) {
            return nullptr;
        }
        LineFramer& framer = framer_of(self);
        contents->max_line_bytes = framer.max_line_bytes();
        contents->framed.reserve(2);  // before the framer moves on
        if (std::optional<FramedRead> framed = framer.frame(contents->read.view)) {
            contents->framed.push_back(std::move(*framed));
        }
        if (last != 0) {
            if (std::optional<FramedRead> rest = framer.finish()) {
                contents->framed.push_back(std::move(*rest));
            }
        }
        if (contents->framed.empty()) {
            Py_IncRef(Py_None);
            return Py_None;
        }
        return filled(std::move(frame), std::move(contents));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// finish(): the unfinished line as the input's last line, or None.
PyObject* framer_finish(PyObject* self, PyObject* /*unused*/) noexcept {
    try {
        Owned frame = allocate_frame(self);
        if (!frame) return nullptr;
        auto contents = std::make_unique<FrameContents>();
        contents->max_line_bytes = framer_of(self).max_line_bytes();
        std::optional<FramedRead> rest = framer_of(self).finish();
        if (!rest) {
            Py_IncRef(Py_None);
            return Py_None;
        }
        contents->framed.push_back(std::move(*rest));
        return filled(std::move(frame), std::move(contents));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* framer_drop_unfinished(PyObject* self, PyObject* /*unused*/) noexcept {
    return PyLong_FromUnsignedLongLong(framer_of(self).drop_unfinished());
}

constexpr const char* kPushNames[] = {"data", "size"};

// push(data, size=None): keeps a copy of the whole lines that data[:size]
// ends; returns how many.
PyObject* framer_push(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    PyObject* values[std::size(kPushNames)];
    if (!parse_arguments({"push", kPushNames, 2, 1}, args, nargs, kwnames, values)) {
        return nullptr;
    }
    InputBytes read;
    if (!take_input_bytes(values[0], "push", read) || !take_prefix(values[1], "push", read)) {
        return nullptr;
    }
    try {
        return PyLong_FromSize_t(gathered_of(self).push(read.view));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// take(): every line gathered since the last take, as one Frame.
PyObject* framer_take(PyObject* self, PyObject* /*unused*/) noexcept {
    try {
        Owned frame = allocate_frame(self);
        if (!frame) return nullptr;
        auto contents = std::make_unique<FrameContents>();
        contents->max_line_bytes = framer_of(self).max_line_bytes();
        contents->gathered = gathered_of(self).take();
        return filled(std::move(frame), std::move(contents));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* framer_gathered_lines(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromSize_t(gathered_of(self).lines());
}

PyObject* framer_unfinished_bytes(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromUnsignedLongLong(framer_of(self).unfinished_bytes());
}

PyObject* framer_max_line_bytes(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromSize_t(framer_of(self).max_line_bytes());
}

void framer_dealloc(PyObject* self) noexcept {
    delete reinterpret_cast<LineFramerObject*>(self)->lines;
    free_instance(self);
}

PyMethodDef framer_methods[] = {
    {"frame", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&framer_frame)),
     METH_FASTCALL | METH_KEYWORDS,
     PyDoc_STR("frame($self, data, size=None, *, last=False)\n--\n\nThe whole lines that "
               "data[:size] ends, as a Frame over data itself, or None when it ends none; with "
               "last, the end of the input too, whose unfinished line is its last line.")},
    {"finish", &framer_finish, METH_NOARGS,
     PyDoc_STR("finish($self, /)\n--\n\nThe end of the input: its unfinished line as a Frame, "
               "or None.")},
    {"drop_unfinished", &framer_drop_unfinished, METH_NOARGS,
     PyDoc_STR("drop_unfinished($self, /)\n--\n\nDrops the unfinished line (a connection cut it "
               "off) and starts afresh; returns its length in bytes, 0 when there was none.")},
    {"push", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&framer_push)),
     METH_FASTCALL | METH_KEYWORDS,
     PyDoc_STR("push($self, data, size=None)\n--\n\nKeeps a copy of the whole lines that "
               "data[:size] ends, for take(); returns how many lines they are.")},
    {"take", &framer_take, METH_NOARGS,
     PyDoc_STR("take($self, /)\n--\n\nEvery line kept by push() since the last take, as one "
               "Frame.")},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef framer_getset[] = {
    {"gathered_lines", &framer_gathered_lines, nullptr,
     PyDoc_STR("The lines kept by push() and not yet taken."), nullptr},
    {"unfinished_bytes", &framer_unfinished_bytes, nullptr,
     PyDoc_STR("The length in bytes of the line still unfinished."), nullptr},
    {"max_line_bytes", &framer_max_line_bytes, nullptr,
     PyDoc_STR("The line limit, 0 for none: a longer line fails as LineTooLong, and only its "
               "first bytes are kept."),
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot framer_slots[] = {
    {Py_tp_doc,
     const_cast<char*>(PyDoc_STR(
         "LineFramer(max_line_bytes=0)\n--\n\nA stream's reads cut into frames of whole lines: "
         "lines end at \\n, \\r\\n or a lone \\r, also when a read ends between the two bytes "
         "of \\r\\n."))},
    {Py_tp_new, reinterpret_cast<void*>(&framer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&framer_dealloc)},
    {Py_tp_methods, framer_methods},
    {Py_tp_getset, framer_getset},
    {0, nullptr},
};

}  // namespace

PyObject* new_frame_type(PyObject* module) noexcept {
    return new_type<FrameObject>(module, "kav_aprs._native.Frame", frame_slots);
}

PyObject* new_line_framer_type(PyObject* module) noexcept {
    return new_type<LineFramerObject>(module, "kav_aprs._native.LineFramer", framer_slots,
                                      Py_TPFLAGS_DEFAULT);
}

}  // namespace kav::batch
