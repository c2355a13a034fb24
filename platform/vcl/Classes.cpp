#include "vcl/Classes.h"

#include <algorithm>

namespace vcl {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_)
        owner_->Insert(this);
}

TComponent::~TComponent() {
    // Owned components go first, last created first; each unhooks itself from us.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        delete c;
    }
    if (owner_)
        owner_->Remove(this);
}

void TComponent::Remove(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it != components_.end())
        components_.erase(it);
}

} // namespace vcl
