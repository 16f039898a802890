#include "classes.h"

#include <algorithm>
#include <map>

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Keyed by the lower-case name, so that names differing in case are one class.
std::map<std::string, const ClassInfo*>& class_registry() {
    static std::map<std::string, const ClassInfo*> classes;
    return classes;
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// --- Type information -------------------------------------------------------

bool ClassInfo::InheritsFrom(const ClassInfo* other) const {
    for (const ClassInfo* c = this; c; c = c->parent)
        if (c == other) return true;
    return false;
}

const PropInfo* ClassInfo::FindProp(const std::string& name) const {
    for (const PropInfo* p : props)
        if (SameText(p->name, name)) return p;
    return parent ? parent->FindProp(name) : nullptr;
}

const MethodInfo* ClassInfo::FindMethod(const std::string& name) const {
    for (const MethodInfo& m : methods)
        if (SameText(m.name, name)) return &m;
    return parent ? parent->FindMethod(name) : nullptr;
}

const FieldInfo* ClassInfo::FindField(const std::string& name) const {
    for (const FieldInfo& f : fields)
        if (SameText(f.name, name)) return &f;
    return parent ? parent->FindField(name) : nullptr;
}

bool IsValidIdent(std::string_view s) {
    if (s.empty()) return false;
    auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!alpha(s[0])) return false;
    for (char c : s)
        if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

void RegisterClass(const ClassInfo& info) { class_registry()[lower(info.name)] = &info; }

const ClassInfo* FindClass(const std::string& name) {
    auto it = class_registry().find(lower(name));
    return it == class_registry().end() ? nullptr : it->second;
}

std::string IdentOf(const TypeInfo* type, int32_t value) {
    if (!type) return {};
    if (!type->names.empty()) {
        if (value >= 0 && static_cast<size_t>(value) < type->names.size()) return type->names[value];
        return {};
    }
    for (const IdentValue& iv : type->idents)
        if (iv.value == value) return iv.name;
    return {};
}

std::optional<int32_t> ValueOf(const TypeInfo* type, const std::string& ident) {
    if (!type) return std::nullopt;
    for (size_t i = 0; i < type->names.size(); ++i)
        if (SameText(type->names[i], ident)) return static_cast<int32_t>(i);
    for (const IdentValue& iv : type->idents)
        if (SameText(iv.name, ident)) return iv.value;
    return std::nullopt;
}

// --- TObject, TPersistent ---------------------------------------------------

const ClassInfo& TObject::StaticClassInfo() {
    static const ClassInfo info{"TObject", nullptr, {}, {}, {}};
    return info;
}

const ClassInfo& TPersistent::StaticClassInfo() {
    static const ClassInfo info{"TPersistent", &TObject::StaticClassInfo(), {}, {}, {}};
    return info;
}

void TPersistent::Assign(const TPersistent* source) {
    if (source) {
        source->AssignTo(this);
        return;
    }
    throw Exception(std::string("Cannot assign a nil to a ") + ClassName() + ".");
}

void TPersistent::AssignTo(TPersistent* dest) const {
    throw Exception(std::string("Cannot assign a ") + ClassName() + " to a " + dest->ClassName() + ".");
}

// --- TComponent -------------------------------------------------------------

const ClassInfo& TComponent::StaticClassInfo() {
    static const PropInfo name = props::Str<&TComponent::Name, &TComponent::SetName>("Name");
    static const PropInfo* const list[] = {&name};
    static const ClassInfo info{"TComponent", &TPersistent::StaticClassInfo(), list, {}, {}};
    return info;
}

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

namespace {
void mark_destroying(TComponent* c) {
    c->SetState(csDestroying, true);
    for (int i = 0; i < c->ComponentCount(); ++i) mark_destroying(c->Components(i));
}
}  // namespace

TComponent::~TComponent() {
    // Everything this frees sees that it is going before anyone is told.
    mark_destroying(this);
    // Those who asked are told first, while this object is still whole.
    std::vector<TComponent*> notifies;
    notifies.swap(free_notifies_);
    for (TComponent* c : notifies) {
        auto& back = c->free_notifies_;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
        c->Notification(this, opRemove);
    }
    while (!components_.empty()) {
        TComponent* c = components_.back();
        c->BeforeDestruction();
        RemoveComponent(c);
        delete c;
    }
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* c) {
    if (!c || c->owner_ == this) return;
    // An owner loop would free its members twice.
    for (const TComponent* o = this; o; o = o->owner_)
        if (o == c) throw EInvalidOperation("A component cannot own itself or its owner.");
    // Checked before leaving the old owner, so a refusal loses nothing.
    if (!c->name_.empty() && FindComponent(c->name_))
        throw EInvalidOperation("A component named " + c->name_ + " already exists.");
    components_.reserve(components_.size() + 1);
    if (c->owner_) c->owner_->RemoveComponent(c);
    components_.push_back(c);
    c->owner_ = this;
    Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it == components_.end()) return;
    Notification(c, opRemove);
    components_.erase(it);
    c->owner_ = nullptr;
}

void TComponent::SetName(const std::string& name) {
    if (name == name_) return;
    if (!name.empty() && !IsValidIdent(name))
        throw EInvalidOperation("'" + name + "' is not a valid component name.");
    if (owner_ && !name.empty()) {
        TComponent* other = owner_->FindComponent(name);
        if (other && other != this)
            throw EInvalidOperation("A component named " + name + " already exists.");
    }
    name_ = name;
}

void TComponent::SetState(TComponentStateFlag f, bool on) {
    if (on)
        state_ = static_cast<TComponentState>(state_ | (1u << f));
    else
        state_ = static_cast<TComponentState>(state_ & ~(1u << f));
}

void TComponent::SetDesigning(bool on) {
    SetState(csDesigning, on);
    for (TComponent* c : components_) c->SetDesigning(on);
}

void TComponent::SetParentComponent(TComponent*) {}

void TComponent::GetChildren(const std::function<void(TComponent*)>&, TComponent*) const {}

void TComponent::Loaded() { SetState(csLoading, false); }

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end()) {
        free_notifies_.reserve(free_notifies_.size() + 1);
        other->free_notifies_.push_back(this);
        free_notifies_.push_back(other);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    free_notifies_.erase(std::remove(free_notifies_.begin(), free_notifies_.end(), other),
                         free_notifies_.end());
    auto& back = other->free_notifies_;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
}

// The links are kept in pairs and dropped only when a side is destroyed or
// asks: an owner's opRemove for a component that merely changes owner must
// not leave the other side holding a link to this one.
void TComponent::Notification(TComponent* component, TOperation operation) {
    // By index: a handler may add or remove components of this owner.
    for (size_t i = 0; i < components_.size(); ++i)
        if (components_[i] != component) components_[i]->Notification(component, operation);
}
