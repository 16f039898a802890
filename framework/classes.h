// The framework's object model: persistent objects, owned components,
// events bound to objects, and the published-property tables that the form
// reader and writer work from.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "win32/types.h"

using TRect = RECT;
using TPoint = POINT;
inline TRect Rect(LONG l, LONG t, LONG r, LONG b) { return TRect{l, t, r, b}; }
inline TPoint Point(LONG x, LONG y) { return TPoint{x, y}; }

// The framework's errors. Handlers may throw them; the application shows
// them through a message box and carries on.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EReadError : public Exception { using Exception::Exception; };
class ERegistryException : public Exception { using Exception::Exception; };
class EInvalidOperation : public Exception { using Exception::Exception; };

class TObject;
class TPersistent;
class TComponent;

// --- Events -----------------------------------------------------------------

// An event is a closure bound to an object, fired only when assigned. When it
// was bound by name from a form, it keeps that name so it can be written back.
class EventBase {
public:
    virtual ~EventBase() = default;
    virtual bool Assigned() const = 0;
    virtual void Clear() = 0;
    const std::string& MethodName() const { return method_name_; }
    TObject* Target() const { return target_; }

protected:
    std::string method_name_;
    TObject* target_ = nullptr;
};

template <class... A>
class Event : public EventBase {
public:
    using Function = std::function<void(A...)>;

    Event() = default;
    Event(Function f) : fn_(std::move(f)) {}
    Event& operator=(Function f) {
        fn_ = std::move(f);
        method_name_.clear();
        target_ = nullptr;
        return *this;
    }
    template <class T, class M>
    void Bind(T* obj, M method, std::string name = {}) {
        fn_ = [obj, method](A... a) { (obj->*method)(a...); };
        target_ = obj;
        method_name_ = std::move(name);
    }
    bool Assigned() const override { return static_cast<bool>(fn_); }
    explicit operator bool() const { return Assigned(); }
    void Clear() override {
        fn_ = nullptr;
        method_name_.clear();
        target_ = nullptr;
    }
    // Called through a copy: a handler may reassign or clear its own event
    // (or free its owner) while it runs.
    void operator()(A... a) const {
        if (!fn_) return;
        Function f = fn_;
        f(a...);
    }

private:
    Function fn_;
};

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
// Shift state: a byte set, bit n = value n.
enum TShiftFlag : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = uint8_t;
constexpr TShiftState ShiftBit(TShiftFlag f) { return TShiftState(1u << f); }

using TNotifyEvent = Event<TObject*>;
using TMouseEvent = Event<TObject*, TMouseButton, TShiftState, int, int>;
using TMouseMoveEvent = Event<TObject*, TShiftState, int, int>;
using TKeyEvent = Event<TObject*, uint16_t&, TShiftState>;
using TKeyPressEvent = Event<TObject*, char&>;
using TIdleEvent = Event<TObject*, bool&>;

// --- Type information for published properties ------------------------------

enum class PropKind : uint8_t {
    Integer,  // 32-bit signed; an ident table (colours, cursors) may name values
    Boolean,
    Enum,     // one byte, names in ordinal order
    Set,      // one byte, bit n = member n
    String,   // code-page 936 bytes
    Class,    // an owned sub-object (font, picture) streamed through its own table
    Event,    // bound by the name of a published method of the form
    Component,  // another component of the form, by its name
};

struct IdentValue {
    const char* name;
    int32_t value;
};

struct TypeInfo {
    const char* name;
    std::span<const char* const> names;   // Enum and Set members
    std::span<const IdentValue> idents;   // named Integer values, e.g. clBlack
};

// The name of a value (enumeration member or named integer), else empty; and
// back, case-insensitively.
std::string IdentOf(const TypeInfo* type, int32_t value);
std::optional<int32_t> ValueOf(const TypeInfo* type, const std::string& ident);

struct PropInfo {
    const char* name;
    PropKind kind;
    const TypeInfo* type = nullptr;
    // Stored only when different from the default; no default = always stored
    // (strings: stored when different from default_str, else when not empty;
    // sub-objects and events as they say).
    std::optional<int64_t> default_ord;

    int64_t (*get_ord)(const TPersistent*) = nullptr;
    void (*set_ord)(TPersistent*, int64_t) = nullptr;
    std::string (*get_str)(const TPersistent*) = nullptr;
    void (*set_str)(TPersistent*, const std::string&) = nullptr;
    TPersistent* (*get_obj)(TPersistent*) = nullptr;
    EventBase* (*get_event)(TPersistent*) = nullptr;
    const char* default_str = nullptr;
    TComponent* (*get_comp)(const TPersistent*) = nullptr;
    // False when the component is not of the class the property holds.
    bool (*set_comp)(TPersistent*, TComponent*) = nullptr;
};

// A published method of a form class: binds itself to an event of the
// matching signature; false when the signature differs.
struct MethodInfo {
    const char* name;
    bool (*bind)(TObject* self, EventBase& event, const char* name);
};

// A published field of a form class: the reader stores the component it
// created under that name.
struct FieldInfo {
    const char* name;
    bool (*assign)(TObject* self, TComponent* value);  // false: wrong class
};

struct ClassInfo {
    const char* name;
    const ClassInfo* parent;
    std::span<const PropInfo* const> props;   // complete published list, in order
    std::span<const MethodInfo> methods;
    std::span<const FieldInfo> fields;
    TComponent* (*create)(TComponent* owner) = nullptr;  // null: cannot be read

    bool InheritsFrom(const ClassInfo* other) const;
    const PropInfo* FindProp(const std::string& name) const;
    const MethodInfo* FindMethod(const std::string& name) const;
    const FieldInfo* FindField(const std::string& name) const;
};

// Letters, digits and '_', not starting with a digit.
bool IsValidIdent(std::string_view s);
// Equal but for the case of ASCII letters (names, idents; other bytes as they are).
bool SameText(std::string_view a, std::string_view b);

// Classes the form reader can create by name.
void RegisterClass(const ClassInfo& info);
const ClassInfo* FindClass(const std::string& name);

// --- Objects ----------------------------------------------------------------

// Every streamable class declares its table once:
#define FW_CLASS_INFO()                                                   \
    const ClassInfo* GetClassInfo() const override { return &StaticClassInfo(); } \
    static const ClassInfo& StaticClassInfo()

class TObject {
public:
    virtual ~TObject() = default;
    virtual const ClassInfo* GetClassInfo() const { return &StaticClassInfo(); }
    static const ClassInfo& StaticClassInfo();
    const char* ClassName() const { return GetClassInfo()->name; }
    bool InheritsFrom(const ClassInfo& info) const { return GetClassInfo()->InheritsFrom(&info); }
};

class TPersistent : public TObject {
public:
    // Copies another object's contents; raises Exception("Cannot assign a
    // <source class> to a <this class>.") when neither side knows how.
    virtual void Assign(const TPersistent* source);
    FW_CLASS_INFO();

    // Sub-objects with their own data (a picture's bitmap) stream it as bytes.
    virtual bool HasData() const { return false; }
    virtual std::vector<uint8_t> WriteData() const { return {}; }
    virtual void ReadData(std::span<const uint8_t>) {}

protected:
    virtual void AssignTo(TPersistent* dest) const;
};

enum TComponentStateFlag : uint8_t { csLoading, csReading, csWriting, csDestroying, csDesigning };
using TComponentState = uint8_t;

enum TOperation : uint8_t { opInsert, opRemove };

// Owner-managed objects: an owner frees what it owns, in reverse order of
// insertion, and tells the others that asked for it when one goes away.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int i) const { return components_.at(static_cast<size_t>(i)); }
    TComponent* FindComponent(const std::string& name) const;  // case-insensitive
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    const std::string& Name() const { return name_; }
    // Raises EInvalidOperation on a duplicate among siblings or on a name
    // that is not an identifier (it could not be written to a form).
    virtual void SetName(const std::string& name);
    intptr_t Tag() const { return tag_; }
    void SetTag(intptr_t tag) { tag_ = tag; }

    TComponentState ComponentState() const { return state_; }
    bool HasState(TComponentStateFlag f) const { return (state_ >> f) & 1u; }
    void SetState(TComponentStateFlag f, bool on);
    void SetDesigning(bool on);  // this component and those it owns

    // Streaming hooks: the parent a reader found this component nested in,
    // the children a writer nests inside it, and the end of reading.
    virtual void SetParentComponent(TComponent* parent);
    virtual TComponent* GetParentComponent() const { return nullptr; }
    virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const;
    virtual void Loaded();
    // Runs while the whole object, derived parts included, still exists:
    // owners call it on each component just before they free it.
    virtual void BeforeDestruction() {}

    FW_CLASS_INFO();

    // Asks to be told (Notification, opRemove) when `other` is destroyed;
    // the link works both ways and goes when either side does.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

protected:
    virtual void Notification(TComponent* component, TOperation operation);

private:
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> free_notifies_;
    std::string name_;
    intptr_t tag_ = 0;
    TComponentState state_ = 0;
};

// Builders for table entries from members, so each property is declared once:
//   props::Ord<&TColorButton::BevelSize, &TColorButton::SetBevelSize>(
//       "BevelSize", PropKind::Integer, 2)
namespace props {

template <class MP>
struct Getter;
template <class C, class V>
struct Getter<V (C::*)() const> {
    using Class = C;
    using Value = V;
};
template <class MP>
struct Setter;
template <class C, class V>
struct Setter<void (C::*)(V)> {
    using Class = C;
    using Value = std::remove_cvref_t<V>;
};
template <class MP>
struct Member;
template <class C, class T>
struct Member<T C::*> {
    using Class = C;
    using Type = T;
};
template <class MP>
struct Handler;
template <class C, class... A>
struct Handler<void (C::*)(A...)> {
    using Class = C;
    using EventType = Event<A...>;
};

// Integer, Boolean, Enum or Set property.
template <auto Get, auto Set>
PropInfo Ord(const char* name, PropKind kind, std::optional<int64_t> def = std::nullopt,
             const TypeInfo* type = nullptr) {
    using G = typename Getter<decltype(Get)>::Class;
    using S = typename Setter<decltype(Set)>::Class;
    using V = typename Setter<decltype(Set)>::Value;
    PropInfo p{name, kind, type, def};
    p.get_ord = [](const TPersistent* o) -> int64_t {
        return static_cast<int64_t>((static_cast<const G*>(o)->*Get)());
    };
    p.set_ord = [](TPersistent* o, int64_t v) { (static_cast<S*>(o)->*Set)(static_cast<V>(v)); };
    return p;
}

template <auto Get, auto Set>
PropInfo Str(const char* name, const char* default_value = nullptr) {
    using G = typename Getter<decltype(Get)>::Class;
    using S = typename Setter<decltype(Set)>::Class;
    PropInfo p{name, PropKind::String, nullptr, std::nullopt};
    p.get_str = [](const TPersistent* o) -> std::string { return (static_cast<const G*>(o)->*Get)(); };
    p.set_str = [](TPersistent* o, const std::string& v) { (static_cast<S*>(o)->*Set)(v); };
    p.default_str = default_value;
    return p;
}

// An owned sub-object; the reader and writer go through its own table.
template <auto Get>
PropInfo Obj(const char* name) {
    using G = typename Getter<decltype(Get)>::Class;
    PropInfo p{name, PropKind::Class, nullptr, std::nullopt};
    p.get_obj = [](TPersistent* o) -> TPersistent* { return (static_cast<G*>(o)->*Get)(); };
    return p;
}

// A reference to another component of the form, stored by its name.
template <auto Get, auto Set>
PropInfo Ref(const char* name) {
    using G = typename Getter<decltype(Get)>::Class;
    using S = typename Setter<decltype(Set)>::Class;
    using V = typename Setter<decltype(Set)>::Value;  // a pointer type
    PropInfo p{name, PropKind::Component, nullptr, std::nullopt};
    p.get_comp = [](const TPersistent* o) -> TComponent* { return (static_cast<const G*>(o)->*Get)(); };
    p.set_comp = [](TPersistent* o, TComponent* c) -> bool {
        auto* v = dynamic_cast<V>(c);
        if (c && !v) return false;
        (static_cast<S*>(o)->*Set)(v);
        return true;
    };
    return p;
}

// An event field.
template <auto Field>
PropInfo Evt(const char* name) {
    using C = typename Member<decltype(Field)>::Class;
    PropInfo p{name, PropKind::Event, nullptr, std::nullopt};
    p.get_event = [](TPersistent* o) -> EventBase* { return &(static_cast<C*>(o)->*Field); };
    return p;
}

// A published method, bindable to events of its own signature.
template <auto M>
MethodInfo Method(const char* name) {
    using C = typename Handler<decltype(M)>::Class;
    using E = typename Handler<decltype(M)>::EventType;
    return MethodInfo{name, [](TObject* self, EventBase& event, const char* method) -> bool {
                          auto* e = dynamic_cast<E*>(&event);
                          auto* obj = dynamic_cast<C*>(self);
                          if (!e || !obj) return false;
                          e->Bind(obj, M, method);
                          return true;
                      }};
}

// A published field that holds a component of the form.
template <auto F>
FieldInfo Field(const char* name) {
    using C = typename Member<decltype(F)>::Class;
    using T = typename Member<decltype(F)>::Type;  // a pointer type
    return FieldInfo{name, [](TObject* self, TComponent* value) -> bool {
                         auto* obj = dynamic_cast<C*>(self);
                         auto* v = dynamic_cast<T>(value);
                         if (!obj || (value && !v)) return false;
                         obj->*F = v;
                         return true;
                     }};
}

template <class T>
TComponent* Create(TComponent* owner) {
    return new T(owner);
}

}  // namespace props
