// Form texts: ReadComponentFromText into a root whose classes publish one
// property of every kind (integers with named values, booleans,
// enumerations, sets, strings, sub-objects, data blocks, events and
// component references); a form that reads must write a text that reads
// back into the same text: write(read(x)) == write(read(write(read(x)))).
#include <memory>
#include <string>
#include <vector>

#include "classes.h"
#include "fuzz_support.h"
#include "streaming.h"

namespace {

enum TSide : uint8_t { sdNone, sdTop, sdBottom, sdLeft, sdRight };
const char* const kSideNames[] = {"sdNone", "sdTop", "sdBottom", "sdLeft", "sdRight"};
const TypeInfo kSideType{"TSide", kSideNames, {}};
const char* const kMarkNames[] = {"mkA", "mkB", "mkC", "mkD", "mkE", "mkF", "mkG", "mkH"};
const TypeInfo kMarkType{"TMarks", kMarkNames, {}};
const IdentValue kColours[] = {{"clBlack", 0}, {"clWhite", 0xFFFFFF}, {"clBtnFace", INT32_MIN + 15}};
const TypeInfo kColourType{"TColor", {}, kColours};

class TFuzzFont : public TPersistent {
public:
    int Height() const { return height_; }
    void SetHeight(int h) { height_ = h; }
    std::string Name() const { return name_; }
    void SetName(const std::string& n) { name_ = n; }
    FW_CLASS_INFO();

private:
    int height_ = -11;
    std::string name_ = "System";
};

const ClassInfo& TFuzzFont::StaticClassInfo() {
    static const PropInfo height =
        props::Ord<&TFuzzFont::Height, &TFuzzFont::SetHeight>("Height", PropKind::Integer, -11);
    static const PropInfo name = props::Str<&TFuzzFont::Name, &TFuzzFont::SetName>("Name", "System");
    static const PropInfo* const list[] = {&height, &name};
    static const ClassInfo info{"TFuzzFont", &TPersistent::StaticClassInfo(), list, {}, {}};
    return info;
}

class TFuzzData : public TPersistent {
public:
    std::vector<uint8_t> bytes;
    bool HasData() const override { return true; }
    std::vector<uint8_t> WriteData() const override { return bytes; }
    void ReadData(std::span<const uint8_t> data) override { bytes.assign(data.begin(), data.end()); }
    FW_CLASS_INFO();
};

const ClassInfo& TFuzzData::StaticClassInfo() {
    static const ClassInfo info{"TFuzzData", &TPersistent::StaticClassInfo(), {}, {}, {}};
    return info;
}

class TFuzzBox : public TComponent {
public:
    explicit TFuzzBox(TComponent* owner) : TComponent(owner) {}
    ~TFuzzBox() override { SetBuddy(nullptr); }

    int Left() const { return left_; }
    void SetLeft(int v) { left_ = v; }
    int32_t Color() const { return color_; }
    void SetColor(int32_t c) { color_ = c; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    TSide Side() const { return side_; }
    void SetSide(TSide s) { side_ = s; }
    uint8_t Marks() const { return marks_; }
    void SetMarks(uint8_t m) { marks_ = m; }
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& c) { caption_ = c; }
    TFuzzFont* Font() const { return font_.get(); }
    TFuzzData* Glyph() const { return glyph_.get(); }
    TFuzzBox* Buddy() const { return buddy_; }
    void SetBuddy(TFuzzBox* b) {
        if (buddy_) buddy_->RemoveFreeNotification(this);
        buddy_ = b;
        if (buddy_) buddy_->FreeNotification(this);
    }
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == opRemove && component == buddy_) buddy_ = nullptr;
    }
    TNotifyEvent OnClick;
    TMouseEvent OnMouseUp;

    TFuzzBox* parent = nullptr;
    void SetParentComponent(TComponent* p) override { parent = dynamic_cast<TFuzzBox*>(p); }
    TComponent* GetParentComponent() const override { return parent; }
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override {
        for (int i = 0; i < root->ComponentCount(); ++i)
            if (auto* b = dynamic_cast<TFuzzBox*>(root->Components(i)); b && b->parent == this) proc(b);
    }
    FW_CLASS_INFO();

private:
    int left_ = 0;
    int32_t color_ = INT32_MIN + 15;
    bool visible_ = true;
    TSide side_ = sdNone;
    uint8_t marks_ = 0;
    std::string caption_;
    std::unique_ptr<TFuzzFont> font_ = std::make_unique<TFuzzFont>();
    std::unique_ptr<TFuzzData> glyph_ = std::make_unique<TFuzzData>();
    TFuzzBox* buddy_ = nullptr;
};

const ClassInfo& TFuzzBox::StaticClassInfo() {
    using B = TFuzzBox;
    static const PropInfo left = props::Ord<&B::Left, &B::SetLeft>("Left", PropKind::Integer, 0);
    static const PropInfo color =
        props::Ord<&B::Color, &B::SetColor>("Color", PropKind::Integer, INT32_MIN + 15, &kColourType);
    static const PropInfo visible = props::Ord<&B::Visible, &B::SetVisible>("Visible", PropKind::Boolean, 1);
    static const PropInfo side = props::Ord<&B::Side, &B::SetSide>("Side", PropKind::Enum, sdNone, &kSideType);
    static const PropInfo marks = props::Ord<&B::Marks, &B::SetMarks>("Marks", PropKind::Set, 0, &kMarkType);
    static const PropInfo caption = props::Str<&B::Caption, &B::SetCaption>("Caption");
    static const PropInfo font = props::Obj<&B::Font>("Font");
    static const PropInfo glyph = props::Obj<&B::Glyph>("Glyph");
    static const PropInfo buddy = props::Ref<&B::Buddy, &B::SetBuddy>("Buddy");
    static const PropInfo on_click = props::Evt<&B::OnClick>("OnClick");
    static const PropInfo on_mouse_up = props::Evt<&B::OnMouseUp>("OnMouseUp");
    static const PropInfo* const list[] = {TComponent::StaticClassInfo().props[0],
                                           &left, &color, &visible, &side, &marks, &caption,
                                           &font, &glyph, &buddy, &on_click, &on_mouse_up};
    static const ClassInfo info{"TFuzzBox", &TComponent::StaticClassInfo(), list, {}, {}, props::Create<B>};
    return info;
}

class TFuzzForm : public TFuzzBox {
public:
    explicit TFuzzForm(TComponent* owner = nullptr) : TFuzzBox(owner) {}
    TFuzzBox* Box1 = nullptr;
    void Clicked(TObject*) {}
    void MouseUp(TObject*, TMouseButton, TShiftState, int, int) {}
    FW_CLASS_INFO();
};

const ClassInfo& TFuzzForm::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&TFuzzForm::Clicked>("Clicked"),
                                         props::Method<&TFuzzForm::MouseUp>("MouseUp")};
    static const FieldInfo fields[] = {props::Field<&TFuzzForm::Box1>("Box1")};
    static const ClassInfo info{"TFuzzForm", &TFuzzBox::StaticClassInfo(), TFuzzBox::StaticClassInfo().props,
                                methods, fields};
    return info;
}

// The text of the form read from `text`, or nothing when it does not read.
std::optional<std::string> read_and_write(std::string_view text) {
    TFuzzForm form;
    try {
        ReadComponentFromText(text, &form);
    } catch (const Exception&) {
        return std::nullopt;
    }
    return WriteComponentToText(&form);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        RegisterClass(TFuzzBox::StaticClassInfo());
        return true;
    }();
    (void)registered;
    if (size > 64 * 1024) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> first = read_and_write(text);
    if (!first) return 0;
    const std::optional<std::string> second = read_and_write(*first);
    if (!second) {
        std::fprintf(stderr, "The written form does not read back:\n%s\n", first->c_str());
        std::abort();
    }
    if (*second != *first) {
        std::fprintf(stderr, "Written:\n%s\nRead back and written again:\n%s\n", first->c_str(),
                     second->c_str());
        std::abort();
    }
    return 0;
}
