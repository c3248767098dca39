#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "Exception.h"

// Growable array owning a copy of each element. A full vector doubles its
// capacity, by at least its step (0 means 20), and moves its elements over,
// so n adds cost O(n). Indices are checked and raise ArrayIndexException.
template <class T>
class Vector : public LmObject {
public:
    explicit Vector(int initialCapacity = 0, int step = 20)
        : step_(static_cast<size_t>(step > 0 ? step : 20)) {
        items_.reserve(initialCapacity > 0 ? static_cast<size_t>(initialCapacity) : 0);
    }
    Vector(std::initializer_list<T> items) : items_(items) {}

    void grow() { items_.reserve(std::max(2 * items_.capacity(), items_.capacity() + step_)); }
    void add(const T& item) { place(size(), item); }
    void add(T&& item) { place(size(), std::move(item)); }
    int capacity() const { return static_cast<int>(items_.capacity()); }
    void removeAll() { items_.clear(); }
    T& elementAt(int index) {
        check(index, size());
        return items_[static_cast<size_t>(index)];
    }
    const T& elementAt(int index) const {
        check(index, size());
        return items_[static_cast<size_t>(index)];
    }
    void insertAt(const T& item, int index) {
        check(index, size() + 1);
        place(index, item);
    }
    T& lastElement() { return elementAt(size() - 1); }
    const T& lastElement() const { return elementAt(size() - 1); }
    T removeAt(int index) {
        check(index, size());
        T removed = std::move(items_[static_cast<size_t>(index)]);
        items_.erase(items_.begin() + index);
        return removed;
    }
    T setAt(const T& item, int index) {
        check(index, size());
        T replaced = std::exchange(items_[static_cast<size_t>(index)], item);
        return replaced;
    }
    int size() const { return static_cast<int>(items_.size()); }
    bool isEmpty() const { return items_.empty(); }
    void trimToSize() { items_.shrink_to_fit(); }

    T& operator[](int index) { return elementAt(index); }
    const T& operator[](int index) const { return elementAt(index); }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    friend bool operator==(const Vector& a, const Vector& b) { return a.items_ == b.items_; }

private:
    static void check(int index, int limit) {
        if (index < 0 || index >= limit) {
            throw ArrayIndexException("Vector", __LINE__);
        }
    }
    // Inserts at index, growing a full vector by the step first.
    template <class U>
    void place(int index, U&& item) {
        if (items_.size() < items_.capacity()) {
            items_.insert(items_.begin() + index, std::forward<U>(item));
            return;
        }
        // item may be an element of this vector, whose storage grow() frees.
        T copy(std::forward<U>(item));
        grow();
        items_.insert(items_.begin() + index, std::move(copy));
    }

    size_t step_ = 20;
    std::vector<T> items_;
};
