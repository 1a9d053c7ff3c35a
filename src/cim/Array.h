// A growable array with value semantics, as the CIM object model uses it.
#pragma once

#include <vector>

#include "cim/Config.h"
#include "cim/Exception.h"

namespace Pegasus {

namespace detail {
// Booleans are kept in one-byte cells so that operator[] can hand out a
// real Boolean& (std::vector<bool> packs bits).
template <class T>
struct ArrayCell {
    using type = T;
    static T& ref(T& x) { return x; }
    static const T& ref(const T& x) { return x; }
};
template <>
struct ArrayCell<bool> {
    struct type {
        bool value;
        type(bool b = false) : value(b) {}
    };
    static bool& ref(type& x) { return x.value; }
    static const bool& ref(const type& x) { return x.value; }
};
}  // namespace detail

template <class T>
class Array {
    using Cell = detail::ArrayCell<T>;
    using Store = std::vector<typename Cell::type>;

public:
    typedef T ElementType;

    Array() = default;
    explicit Array(Uint32 size) : _items(size) {}
    Array(Uint32 size, const T& x) : _items(size, x) {}
    Array(const T* items, Uint32 size) : _items(items, items + size) {}

    Uint32 size() const { return Uint32(_items.size()); }
    Uint32 getCapacity() const { return Uint32(_items.capacity()); }
    void reserveCapacity(Uint32 capacity) { _items.reserve(capacity); }
    void grow(Uint32 size, const T& x) { _items.insert(_items.end(), size, x); }
    void swap(Array& x) { _items.swap(x._items); }
    const T* getData() const { return _items.empty() ? nullptr : &Cell::ref(_items[0]); }

    T& operator[](Uint32 index) { return Cell::ref(_items[check(index)]); }
    const T& operator[](Uint32 index) const { return Cell::ref(_items[check(index)]); }

    void append(const T& x) { _items.push_back(x); }
    void append(T&& x) { _items.push_back(std::move(x)); }
    void append(const T* x, Uint32 size) { _items.insert(_items.end(), x, x + size); }
    void appendArray(const Array& x) { _items.insert(_items.end(), x._items.begin(), x._items.end()); }
    void prepend(const T& x) { _items.insert(_items.begin(), x); }
    void insert(Uint32 index, const T& x) {
        if (index > size()) throw IndexOutOfBoundsException();
        _items.insert(_items.begin() + index, x);
    }
    void remove(Uint32 index) { remove(index, 1); }
    void remove(Uint32 index, Uint32 size) {
        if (index > this->size() || size > this->size() - index) throw IndexOutOfBoundsException();
        _items.erase(_items.begin() + index, _items.begin() + index + size);
    }
    void clear() { _items.clear(); }

    bool operator==(const Array& x) const {
        if (size() != x.size()) return false;
        for (Uint32 i = 0; i < size(); ++i)
            if (!(Cell::ref(_items[i]) == Cell::ref(x._items[i]))) return false;
        return true;
    }
    bool operator!=(const Array& x) const { return !(*this == x); }

    // Range-for support.
    class const_iterator {
    public:
        const_iterator(typename Store::const_iterator it) : _it(it) {}
        const T& operator*() const { return Cell::ref(*_it); }
        const_iterator& operator++() {
            ++_it;
            return *this;
        }
        bool operator!=(const const_iterator& x) const { return _it != x._it; }

    private:
        typename Store::const_iterator _it;
    };
    const_iterator begin() const { return const_iterator(_items.begin()); }
    const_iterator end() const { return const_iterator(_items.end()); }

private:
    Uint32 check(Uint32 index) const {
        if (index >= size()) throw IndexOutOfBoundsException();
        return index;
    }
    Store _items;
};

}  // namespace Pegasus
