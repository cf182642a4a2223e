// The host's growable table. Count and storage are separate: SetCount(0) keeps the storage.
#pragma once

#include <stdexcept>
#include <vector>

template <typename T>
class Tab {
  public:
    int Count() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Sets the number of entries; growing fills new entries with default values.
    void SetCount(int n) {
        if (n < 0) n = 0;
        if (static_cast<size_t>(n) > items_.size()) items_.resize(n);
        count_ = n;
    }
    void ZeroCount() { count_ = 0; }

    // Appends num entries; when the storage is full it grows by num + allocExtra entries.
    // Answers the index of the first appended entry.
    int Append(int num, const T* entries, int allocExtra = 0) {
        if (num <= 0) return count_;
        const size_t need = static_cast<size_t>(count_) + num;
        if (need > items_.capacity()) items_.reserve(need + (allocExtra > 0 ? allocExtra : 0));
        if (need > items_.size()) items_.resize(need);
        for (int i = 0; i < num; ++i) items_[count_ + i] = entries[i];
        const int first = count_;
        count_ += num;
        return first;
    }
    int Capacity() const { return static_cast<int>(items_.capacity()); }

    // Checked access: an index outside 0 .. Count() - 1 raises the host's out-of-range error.
    T& operator[](int i) { return items_[Check(i)]; }
    const T& operator[](int i) const { return items_[Check(i)]; }

    T* begin() { return items_.data(); }
    T* end() { return items_.data() + count_; }
    const T* begin() const { return items_.data(); }
    const T* end() const { return items_.data() + count_; }

    // Releases the storage too.
    void Resize(int n) {
        items_.resize(n < 0 ? 0 : n);
        items_.shrink_to_fit();
        if (count_ > n) count_ = n < 0 ? 0 : n;
    }

  private:
    size_t Check(int i) const {
        if (i < 0 || i >= count_)
            throw std::out_of_range(
                "Argument index out of bounds, passed into a MaxSDK::Array::operator[]");
        return static_cast<size_t>(i);
    }

    std::vector<T> items_;
    int count_ = 0;
};
