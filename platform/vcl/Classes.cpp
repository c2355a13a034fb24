#include "vcl/Classes.h"

#include "vcl/SysUtils.h"

#include <algorithm>
#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace vcl {

void TPersistent::Assign(const TPersistent* source) {
    if (source) {
        source->AssignTo(this);
        return;
    }
    throw EConvertError(u"Cannot assign a nil to a " + ClassName() + u".");
}

void TPersistent::AssignTo(TPersistent* dest) const {
    std::u16string destName = dest ? dest->ClassName() : std::u16string(u"nil");
    throw EConvertError(u"Cannot assign a " + ClassName() + u" to a " + destName + u".");
}

std::u16string TPersistent::ClassName() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> plain(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    std::string name = status == 0 && plain ? plain.get() : mangled;
    // Namespaces are not part of a class name here.
    auto colon = name.rfind("::");
    if (colon != std::string::npos)
        name.erase(0, colon + 2);
    return Utf8ToUtf16(name);
}

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
