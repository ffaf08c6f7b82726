/* The interpreter's own price for one call that returns one new object.
 *
 * make_beacon(line) takes the same bytes as the parse function (METH_FASTCALL)
 * and returns a new instance of a PyType_FromSpec heap type laid out like
 * AircraftBeacon: three short inline texts, the protocol byte, the time of
 * day, five doubles, the beacon-id fields and a borrow counter. The instance
 * is made the way the module makes its own (object's tp_new with an empty
 * tuple) and freed the same way, so the difference to the parse function is
 * the parse and nothing else.
 *
 * Its eleven attributes are plain members named like AircraftBeacon's, each
 * read building one new object (a str, an int or a float): reading them all is
 * the floor of reading a beacon's eleven attributes.
 *
 * raise_value_error(line) is the same for a failing call: it raises ValueError
 * with a new text as long as the line, the least any parser pays to report a
 * bad line with its text. */
#include <Python.h>
#include <string.h>
#include <structmember.h>

enum { kInlineText = 16 };

typedef struct {
    unsigned char length;
    char bytes[kInlineText]; /* NUL-terminated, read as a member */
} InlineText;

typedef struct {
    PyObject_HEAD InlineText callsign;
    InlineText q_construct;
    InlineText receiver;
    unsigned char protocol;
    unsigned int seconds;
    unsigned int nanoseconds;
    double latitude;
    double longitude;
    double ground_track;
    double ground_speed;
    double gps_altitude;
    unsigned int icao_address;
    unsigned char aircraft_type;
    unsigned char address_type;
    unsigned char no_track;
    unsigned char stealth_mode;
    long borrow_counter;
} FloorBeacon;

static PyTypeObject* floor_beacon_type;
static newfunc object_new;

static void copy_text(InlineText* text, const char* bytes, Py_ssize_t length) {
    if (length > kInlineText - 1) length = kInlineText - 1;
    text->length = (unsigned char)length;
    memcpy(text->bytes, bytes, (size_t)length);
    text->bytes[length] = '\0';
}

static void floor_beacon_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    freefunc free_slot = (freefunc)PyType_GetSlot(type, Py_tp_free);
    free_slot(self);
    Py_DECREF(type);
}

/* The one bytes argument of a call, or -1 with TypeError set. */
static int the_bytes(PyObject* const* args, Py_ssize_t nargs, char** bytes, Py_ssize_t* length) {
    if (nargs != 1 || !(PyType_GetFlags(Py_TYPE(args[0])) & Py_TPFLAGS_BYTES_SUBCLASS)) {
        PyErr_SetString(PyExc_TypeError, "takes exactly one bytes argument");
        return -1;
    }
    return PyBytes_AsStringAndSize(args[0], bytes, length);
}

static PyObject* make_beacon(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    (void)module;
    char* bytes;
    Py_ssize_t length;
    if (the_bytes(args, nargs, &bytes, &length) < 0) return NULL;

    PyObject* empty = PyTuple_New(0);
    if (empty == NULL) return NULL;
    FloorBeacon* beacon = (FloorBeacon*)object_new(floor_beacon_type, empty, NULL);
    Py_DECREF(empty);
    if (beacon == NULL) return NULL;

    /* Touch the input so the call cannot be folded away; no parsing. */
    copy_text(&beacon->callsign, bytes, length < 6 ? length : 6);
    copy_text(&beacon->q_construct, bytes, length < 3 ? length : 3);
    copy_text(&beacon->receiver, bytes, length < 9 ? length : 9);
    beacon->protocol = 1;
    beacon->seconds = 45296;
    beacon->nanoseconds = 0;
    beacon->latitude = (double)length;
    beacon->longitude = -(double)length;
    beacon->ground_track = 90.0;
    beacon->ground_speed = 50.0;
    beacon->gps_altitude = 1000.0;
    beacon->icao_address = 0xABCDEF;
    beacon->aircraft_type = 1;
    beacon->address_type = 2;
    beacon->no_track = 0;
    beacon->stealth_mode = 0;
    beacon->borrow_counter = 0;
    return (PyObject*)beacon;
}

static PyObject* raise_value_error(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    (void)module;
    char* bytes;
    Py_ssize_t length;
    if (the_bytes(args, nargs, &bytes, &length) < 0) return NULL;
    /* Latin-1 accepts any bytes, so the text is built whatever the line holds. */
    PyObject* text = PyUnicode_DecodeLatin1(bytes, length, NULL);
    if (text == NULL) return NULL;
    PyErr_SetObject(PyExc_ValueError, text);
    Py_DECREF(text);
    return NULL;
}

#define FLOOR_MEMBER(name, kind, field) \
    { name, kind, offsetof(FloorBeacon, field), READONLY, NULL }
static PyMemberDef floor_beacon_members[] = {
    FLOOR_MEMBER("callsign", T_STRING_INPLACE, callsign.bytes),
    FLOOR_MEMBER("q_construct", T_STRING_INPLACE, q_construct.bytes),
    FLOOR_MEMBER("receiver", T_STRING_INPLACE, receiver.bytes),
    FLOOR_MEMBER("kav_aprs_protocol", T_UBYTE, protocol),
    FLOOR_MEMBER("time", T_UINT, seconds),
    FLOOR_MEMBER("latitude", T_DOUBLE, latitude),
    FLOOR_MEMBER("longitude", T_DOUBLE, longitude),
    FLOOR_MEMBER("ground_track", T_DOUBLE, ground_track),
    FLOOR_MEMBER("ground_speed", T_DOUBLE, ground_speed),
    FLOOR_MEMBER("gps_altitude", T_DOUBLE, gps_altitude),
    FLOOR_MEMBER("kav_beacon_id", T_UINT, icao_address),
    {NULL, 0, 0, 0, NULL},
};
#undef FLOOR_MEMBER

static PyType_Slot floor_beacon_slots[] = {
    {Py_tp_dealloc, (void*)floor_beacon_dealloc},
    {Py_tp_members, floor_beacon_members},
    {0, NULL},
};

static PyType_Spec floor_beacon_spec = {
    "builtins.FloorBeacon", sizeof(FloorBeacon), 0, Py_TPFLAGS_DEFAULT, floor_beacon_slots,
};

static PyMethodDef floor_methods[] = {
    {"make_beacon", (PyCFunction)(void (*)(void))make_beacon, METH_FASTCALL,
     "make_beacon(line)\n--\n\nReturns a new FloorBeacon; parses nothing."},
    {"raise_value_error", (PyCFunction)(void (*)(void))raise_value_error, METH_FASTCALL,
     "raise_value_error(line)\n--\n\nRaises ValueError with the line as its text."},
    {NULL, NULL, 0, NULL},
};

static int floor_exec(PyObject* module) {
    object_new = (newfunc)PyType_GetSlot(&PyBaseObject_Type, Py_tp_new);
    if (object_new == NULL) return -1;
    if (floor_beacon_type == NULL) {
        floor_beacon_type = (PyTypeObject*)PyType_FromSpec(&floor_beacon_spec);
        if (floor_beacon_type == NULL) return -1;
    }
    Py_INCREF(floor_beacon_type);
    if (PyModule_AddObject(module, "FloorBeacon", (PyObject*)floor_beacon_type) < 0) {
        Py_DECREF(floor_beacon_type);
        return -1;
    }
    return 0;
}

static PyModuleDef_Slot floor_slots[] = {
    {Py_mod_exec, (void*)floor_exec},
    {0, NULL},
};

static PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "kav_bench_floor", "", 0, floor_methods, floor_slots, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit_kav_bench_floor(void) {
    return PyModuleDef_Init(&floor_module);
}
