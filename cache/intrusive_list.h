// A doubly linked list whose links lie inside its elements, so that one element can sit in
// several lists at once (an entry in its folder and in the caching queue) and be moved or
// unlinked in constant time. Each link pair remembers the list it belongs to, which makes
// `Contains` exact and lets an element leave its list from its destructor.
#pragma once

#include <cstddef>

namespace scopa {

template <typename T>
struct IntrusiveLinks {
    T* next = nullptr;
    T* previous = nullptr;
    const void* list = nullptr;  // the list holding the element, null when in none
};

// `Links` names the member that holds this list's links in T. Lists that own their elements
// destroy them with `delete` in RemoveAndDestroy and DestroyAll; the list's own destructor
// only unlinks, so a list that does not own (the queue) is safe to drop.
template <typename T, IntrusiveLinks<T> T::*Links>
class CIntrusiveList {
public:
    CIntrusiveList() = default;
    ~CIntrusiveList() { UnlinkAll(); }
    CIntrusiveList(const CIntrusiveList&) = delete;
    CIntrusiveList& operator=(const CIntrusiveList&) = delete;

    T* Head() const { return m_head; }
    T* Tail() const { return m_tail; }
    // The element count is kept wider than 16 bits: a static cache's folder may hold more.
    size_t Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }
    static T* Next(const T* element) { return (element->*Links).next; }
    static T* Previous(const T* element) { return (element->*Links).previous; }

    void AddTail(T* element) { Link(element, m_tail, nullptr); }
    void AddHead(T* element) { Link(element, nullptr, m_head); }
    void InsertAfter(T* after, T* element) { Link(element, after, (after->*Links).next); }
    void InsertBefore(T* before, T* element) { Link(element, (before->*Links).previous, before); }

    void Remove(T* element) {
        IntrusiveLinks<T>& links = element->*Links;
        if (links.list != this) return;
        if (links.previous != nullptr) {
            (links.previous->*Links).next = links.next;
        } else {
            m_head = links.next;
        }
        if (links.next != nullptr) {
            (links.next->*Links).previous = links.previous;
        } else {
            m_tail = links.previous;
        }
        links = IntrusiveLinks<T>{};
        --m_count;
    }
    void RemoveAndDestroy(T* element) {
        Remove(element);
        delete element;
    }
    void DestroyAll() {
        while (m_head != nullptr)
            RemoveAndDestroy(m_head);
    }
    bool Contains(const T* element) const { return (element->*Links).list == this; }

    // Remove then add head: what every lookup hit does.
    void MoveToHead(T* element) {
        if (m_head == element) return;
        Remove(element);
        AddHead(element);
    }
    // Unlinks every element without destroying it.
    void UnlinkAll() {
        while (m_head != nullptr)
            Remove(m_head);
    }

private:
    // Links `element`, which must be in no list of this kind, between two neighbours.
    void Link(T* element, T* previous, T* next) {
        IntrusiveLinks<T>& links = element->*Links;
        links.previous = previous;
        links.next = next;
        links.list = this;
        if (previous != nullptr) {
            (previous->*Links).next = element;
        } else {
            m_head = element;
        }
        if (next != nullptr) {
            (next->*Links).previous = element;
        } else {
            m_tail = element;
        }
        ++m_count;
    }

    T* m_head = nullptr;
    T* m_tail = nullptr;
    size_t m_count = 0;
};

}  // namespace scopa
