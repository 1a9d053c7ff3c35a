// Building blocks of the CIM object model's element classes: a list of
// elements found by name, and the shared handle that CIMInstance,
// CIMClass, CIMProperty, CIMMethod and CIMParameter are (copies share one
// element; clone() makes an independent one).
#pragma once

#include <memory>
#include <vector>

#include "cim/CIMName.h"
#include "cim/CIMQualifier.h"
#include "cim/Exception.h"

namespace Pegasus {
namespace detail {

template <class T>
class NamedList {
public:
    Uint32 size() const { return Uint32(_items.size()); }
    void reserve(Uint32 n) { _items.reserve(n); }

    Uint32 find(const CIMName& name) const {
        for (size_t i = 0; i < _items.size(); ++i)
            if (_items[i].getName().equal(name)) return Uint32(i);
        return PEG_NOT_FOUND;
    }
    // AlreadyExistsException when an element of that name is there.
    void add(const T& x) {
        if (find(x.getName()) != PEG_NOT_FOUND) throw AlreadyExistsException(x.getName().getString());
        _items.push_back(x);
    }
    void addUnchecked(T x) { _items.push_back(std::move(x)); }
    T& get(Uint32 index) { return _items.at(check(index)); }
    const T& get(Uint32 index) const { return _items.at(check(index)); }
    void remove(Uint32 index) { _items.erase(_items.begin() + check(index)); }

    // Deep copy: elements that are handles are cloned.
    NamedList clone() const {
        NamedList copy;
        copy._items.reserve(_items.size());
        for (const T& x : _items) copy._items.push_back(cloneOf(x));
        return copy;
    }

private:
    template <class U>
    static auto cloneOf(const U& x) -> decltype(x.clone()) {
        return x.clone();
    }
    template <class U, class... Ignored>
    static U cloneOf(const U& x, Ignored...) {
        return x;
    }
    Uint32 check(Uint32 index) const {
        if (index >= _items.size()) throw IndexOutOfBoundsException();
        return index;
    }
    std::vector<T> _items;
};

// A shared element; using an uninitialized one raises UninitializedObjectException.
template <class Rep>
class Handle {
public:
    Boolean isUninitialized() const { return !_rep; }

protected:
    Handle() = default;
    explicit Handle(std::shared_ptr<Rep> rep) : _rep(std::move(rep)) {}
    Rep& rep() const {
        if (!_rep) throw UninitializedObjectException();
        return *_rep;
    }
    std::shared_ptr<Rep> _rep;
};

// A handle whose element carries qualifiers.
template <class Self, class Rep>
class QualifiedHandle : public Handle<Rep> {
public:
    Self& addQualifier(const CIMQualifier& x) {
        this->rep().qualifiers.add(x);
        return static_cast<Self&>(*this);
    }
    Uint32 findQualifier(const CIMName& name) const { return this->rep().qualifiers.find(name); }
    CIMQualifier getQualifier(Uint32 index) const { return this->rep().qualifiers.get(index); }
    void removeQualifier(Uint32 index) { this->rep().qualifiers.remove(index); }
    Uint32 getQualifierCount() const { return this->rep().qualifiers.size(); }

protected:
    using Handle<Rep>::Handle;
};

}  // namespace detail
}  // namespace Pegasus
