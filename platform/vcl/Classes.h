// The component model the system's classes stand on: an owner frees what it owns.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vcl {

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// An object that can copy another of its kind. Assign asks the source to copy itself into this
// object when this class does not know the source's class; when neither side knows the other it
// raises EConvertError "Cannot assign a <source class> to a <destination class>.".
class TPersistent : public TObject {
public:
    virtual void Assign(const TPersistent* source);
    // The class name used in conversion errors; "nil" stands for no object.
    virtual std::u16string ClassName() const;

protected:
    virtual void AssignTo(TPersistent* dest) const;
};

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::u16string& Name() const { return name_; }
    void SetName(std::u16string name) { name_ = std::move(name); }
    long long Tag() const { return tag_; }
    void SetTag(long long tag) { tag_ = tag; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int i) const { return components_.at(static_cast<size_t>(i)); }

private:
    void Insert(TComponent* c) { components_.push_back(c); }
    void Remove(TComponent* c);

    TComponent* owner_;
    std::u16string name_;
    long long tag_ = 0;
    std::vector<TComponent*> components_;
};

} // namespace vcl
