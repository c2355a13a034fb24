// An owning list of library objects: Count, Items[Index] (the object itself), and an
// index outside 0..Count-1 raises vyrEIndexOutOfBounds.
#pragma once

#include "vyrErrors.h"

#include <memory>
#include <vector>

namespace vyr {

template <typename T> class TvyrObjectList {
public:
    TvyrObjectList() = default;
    TvyrObjectList(const TvyrObjectList&) = delete;
    TvyrObjectList& operator=(const TvyrObjectList&) = delete;
    virtual ~TvyrObjectList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    T* Items(int index) const {
        if (index < 0 || index >= Count())
            throw vyrEIndexOutOfBounds(vcl::Format(StrIndexOutOfBounds, index));
        return items_[static_cast<size_t>(index)].get();
    }
    T* operator[](int index) const { return Items(index); }
    T* Append(std::unique_ptr<T> item) {
        items_.push_back(std::move(item));
        return items_.back().get();
    }
    void Clear() { items_.clear(); }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

protected:
    std::vector<std::unique_ptr<T>>& Storage() { return items_; }

private:
    std::vector<std::unique_ptr<T>> items_;
};

} // namespace vyr
