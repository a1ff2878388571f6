// An intrusive doubly linked list over items that carry their own `next` and
// `prev` links.
#pragma once

#include <cstddef>

// The list owns the items linked into it: its destructor destroys every one
// still linked. An unlinked item belongs to whoever unlinked it.
template <typename T> class DLList {
public:
    DLList() = default;
    DLList(const DLList&) = delete;
    DLList& operator=(const DLList&) = delete;
    virtual ~DLList() { clear(); }

    bool empty() const { return head == nullptr; }

    // Links `item` before `before`; at the tail when `before` is null.
    void insertBefore(T* item, T* before) {
        item->next = before;
        item->prev = before ? before->prev : tail;
        (item->prev ? item->prev->next : head) = item;
        (before ? before->prev : tail) = item;
        ++count;
    }
    void pushBack(T* item) { insertBefore(item, nullptr); }

    void unlink(T* item) {
        (item->prev ? item->prev->next : head) = item->next;
        (item->next ? item->next->prev : tail) = item->prev;
        item->next = item->prev = nullptr;
        --count;
    }

    // Destroys every linked item.
    void clear() {
        while (T* item = head) {
            unlink(item);
            delete item;
        }
    }

    T* head = nullptr; // lowest id
    T* tail = nullptr; // highest id
    std::size_t count = 0;
};
