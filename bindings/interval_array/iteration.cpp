// iter(a) for IntervalArray: an iterator over a[0], a[1], ... that reads from
// a snapshot of the array taken when it is made. The snapshot shares the
// buffer, and every writer makes its buffer unique before writing, so later
// changes to the array stay invisible; items are built one at a time, so an
// array of shape (2**40, 0) costs nothing up front.
#include <cstdint>
#include <limits>

#include "boundwise/layout/indexing.hpp"
#include "support/methods.hpp"

namespace boundwise::py {

namespace {

struct Snapshot {
    Array value;
    std::uint64_t next = 0;
    std::uint64_t count = 0;  // the first dimension; 0 for a 0-dimensional array
};

struct IteratorObject {
    PyObject_HEAD
    Snapshot snapshot;
};

// The selection of item i along the first axis, as a[i] resolves it. Indices
// from 2^63 on are written from the end, where they still fit in 64 bits.
OuterSelection item_selection(const Array& a, std::uint64_t i) {
    constexpr KeyKind kinds[] = {KeyKind::Integer};
    KeyResolver resolver(a.shape(), kinds);
    constexpr auto kLargestIndex = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    resolver.integer(i <= kLargestIndex ? static_cast<std::int64_t>(i)
                                        : -static_cast<std::int64_t>(a.shape()[0] - i));
    return resolver.finish();
}

// The next item: a (midpoint, radius) tuple for a 1-D array, an array of the
// remaining dimensions otherwise; NULL without an error at the end.
PyObject* next_slot(PyObject* self) noexcept {
    return guarded([&]() -> PyObject* {
        Snapshot& s = reinterpret_cast<IteratorObject*>(self)->snapshot;
        if (s.next >= s.count) return nullptr;
        const OuterSelection selection = item_selection(s.value, s.next);
        PyObject* item = nullptr;
        if (selection.single()) {
            const Interval x = gather_single(s.value, selection);
            item = new_pair(x.mid, x.rad).release();
        } else {
            item = wrap(gather(s.value, selection));
        }
        ++s.next;
        return item;
    });
}

constexpr std::array<std::string_view, 2> kIteratorName{kModuleName, ".IntervalArrayIterator"};

PyTypeObject* create_iterator_type() {
    TypeTables tables;
    tables.slots = {
        {Py_tp_doc, const_cast<char*>("Iterator over the items of an IntervalArray along its first axis, "
                                      "as they were when the iterator was made.")},
        {Py_tp_dealloc, slot_pointer(deallocate_instance<IteratorObject, &IteratorObject::snapshot>)},
        {Py_tp_iter, slot_pointer(PyObject_SelfIter)},
        {Py_tp_iternext, slot_pointer(next_slot)},
    };
    return create_heap_type(kJoined<kIteratorName>.c_str(), static_cast<int>(sizeof(IteratorObject)),
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, std::move(tables));
}

PyTypeObject* iterator_type() {
    static PyTypeObject* type = nullptr;  // created once under the interpreter lock
    if (!type) type = create_iterator_type();
    return type;
}

PyObject* iter_slot(PyObject* self) noexcept {
    return guarded([&] {
        Snapshot snapshot{read_array(self)};
        snapshot.count = snapshot.value.ndim() == 0 ? 0 : snapshot.value.shape()[0];
        return allocate_instance<IteratorObject, &IteratorObject::snapshot>(iterator_type(), std::move(snapshot));
    });
}

}  // namespace

void add_iteration_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_tp_iter, slot_pointer(iter_slot)});
}

}  // namespace boundwise::py
