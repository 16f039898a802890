// Forms as text: writing a component tree and reading it back, defaults,
// one-byte enumerations and sets, data blocks, events, and bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classes.h"
#include "streaming.h"

namespace {

// --- Test classes -------------------------------------------------------------

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TBoxStyle : uint8_t { bsAutoSize, bsCenter, bsShowFocus, bsShowKey, bs4, bs5, bs6, bs7 };
using TBoxStyles = uint8_t;

const char* const kAlignNames[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};
const TypeInfo kAlignType{"TAlign", kAlignNames, {}};
const char* const kStyleNames[] = {"bsAutoSize", "bsCenter", "bsShowFocus", "bsShowKey",
                                   "bs4",        "bs5",      "bs6",         "bs7"};
const TypeInfo kStyleType{"TBoxStyles", kStyleNames, {}};
const char* const kWideNames[] = {"w0", "w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8"};
const TypeInfo kWideType{"TWide", kWideNames, {}};  // one member too many for a byte
constexpr int32_t clBtnFace = INT32_MIN + 15;
const IdentValue kColours[] = {{"clBlack", 0}, {"clSilver", 0xC0C0C0}, {"clBtnFace", clBtnFace}};
const TypeInfo kColourType{"TColor", {}, kColours};

class TTestFont : public TPersistent {
public:
    int Height() const { return height_; }
    void SetHeight(int h) { height_ = h; }
    int32_t Color() const { return color_; }
    void SetColor(int32_t c) { color_ = c; }
    std::string Name() const { return name_; }
    void SetName(const std::string& n) { name_ = n; }
    FW_CLASS_INFO();

private:
    int height_ = -11;
    int32_t color_ = 0;
    std::string name_ = "Arial";
};

const ClassInfo& TTestFont::StaticClassInfo() {
    static const PropInfo height = props::Ord<&TTestFont::Height, &TTestFont::SetHeight>("Height", PropKind::Integer, -11);
    static const PropInfo color =
        props::Ord<&TTestFont::Color, &TTestFont::SetColor>("Color", PropKind::Integer, 0, &kColourType);
    static const PropInfo name = props::Str<&TTestFont::Name, &TTestFont::SetName>("Name");
    static const PropInfo* const list[] = {&color, &height, &name};
    static const ClassInfo info{"TTestFont", &TPersistent::StaticClassInfo(), list, {}, {}};
    return info;
}

// Its data is a byte string; "BAD" refuses to load, as a broken bitmap would.
class TTestPicture : public TPersistent {
public:
    std::vector<uint8_t> bytes;
    bool HasData() const override { return true; }
    std::vector<uint8_t> WriteData() const override { return bytes; }
    void ReadData(std::span<const uint8_t> data) override {
        if (data.size() == 3 && data[0] == 'B' && data[1] == 'A' && data[2] == 'D')
            throw Exception("Bitmap image is not valid");
        bytes.assign(data.begin(), data.end());
    }
    FW_CLASS_INFO();
};

const ClassInfo& TTestPicture::StaticClassInfo() {
    static const ClassInfo info{"TTestPicture", &TPersistent::StaticClassInfo(), {}, {}, {}};
    return info;
}

std::vector<std::string> g_loaded;  // Loaded calls, by name

class TBox : public TComponent {
public:
    explicit TBox(TComponent* owner) : TComponent(owner) {}

    int Left() const { return left_; }
    void SetLeft(int v) {
        if (v < -10000) throw Exception("Left out of range");
        left_ = v;
        states_seen = ComponentState();
    }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    TAlign Align() const { return align_; }
    void SetAlign(TAlign a) { align_ = a; }
    TBoxStyles Style() const { return style_; }
    void SetStyle(TBoxStyles s) { style_ = s; }
    int32_t Color() const { return color_; }
    void SetColor(int32_t c) { color_ = c; }
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& c) { caption_ = c; }
    TTestFont* Font() const { return font_.get(); }
    TTestPicture* Picture() const { return picture_.get(); }
    TNotifyEvent OnClick;
    TMouseEvent OnMouseUp;

    TBox* parent = nullptr;
    TComponentState states_seen = 0;

    void SetParentComponent(TComponent* p) override { parent = dynamic_cast<TBox*>(p); }
    TComponent* GetParentComponent() const override { return parent; }
    // The children are the root's components whose parent is this box.
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override {
        for (int i = 0; i < root->ComponentCount(); ++i)
            if (auto* b = dynamic_cast<TBox*>(root->Components(i)); b && b->parent == this) proc(b);
    }
    void Loaded() override {
        TComponent::Loaded();
        g_loaded.push_back(Name());
    }
    FW_CLASS_INFO();

private:
    int left_ = 0;
    bool visible_ = true;
    TAlign align_ = alNone;
    TBoxStyles style_ = 0;
    int32_t color_ = clBtnFace;
    std::string caption_;
    std::unique_ptr<TTestFont> font_ = std::make_unique<TTestFont>();
    std::unique_ptr<TTestPicture> picture_ = std::make_unique<TTestPicture>();
};

const ClassInfo& TBox::StaticClassInfo() {
    static const PropInfo left = props::Ord<&TBox::Left, &TBox::SetLeft>("Left", PropKind::Integer, 0);
    static const PropInfo visible = props::Ord<&TBox::Visible, &TBox::SetVisible>("Visible", PropKind::Boolean, 1);
    static const PropInfo align = props::Ord<&TBox::Align, &TBox::SetAlign>("Align", PropKind::Enum, alNone, &kAlignType);
    static const PropInfo style = props::Ord<&TBox::Style, &TBox::SetStyle>("Style", PropKind::Set, 0, &kStyleType);
    static const PropInfo color =
        props::Ord<&TBox::Color, &TBox::SetColor>("Color", PropKind::Integer, clBtnFace, &kColourType);
    static const PropInfo caption = props::Str<&TBox::Caption, &TBox::SetCaption>("Caption");
    static const PropInfo font = props::Obj<&TBox::Font>("Font");
    static const PropInfo picture = props::Obj<&TBox::Picture>("Picture");
    static const PropInfo on_click = props::Evt<&TBox::OnClick>("OnClick");
    static const PropInfo on_mouse_up = props::Evt<&TBox::OnMouseUp>("OnMouseUp");
    static const PropInfo* const list[] = {TComponent::StaticClassInfo().props[0],
                                           &left, &visible, &align, &style, &color, &caption,
                                           &font, &picture, &on_click, &on_mouse_up};
    static const ClassInfo info{"TBox", &TComponent::StaticClassInfo(), list, {}, {}, props::Create<TBox>};
    return info;
}

class TButtonBox : public TBox {
public:
    using TBox::TBox;
    FW_CLASS_INFO();
};

const ClassInfo& TButtonBox::StaticClassInfo() {
    static const ClassInfo info{"TButtonBox", &TBox::StaticClassInfo(), TBox::StaticClassInfo().props, {}, {},
                                props::Create<TButtonBox>};
    return info;
}

// A class with a set of nine members, which no byte can hold.
class TWideBox : public TBox {
public:
    using TBox::TBox;
    int Wide() const { return wide_; }
    void SetWide(int w) { wide_ = w; }
    FW_CLASS_INFO();

private:
    int wide_ = 0;
};

const ClassInfo& TWideBox::StaticClassInfo() {
    static const PropInfo wide = props::Ord<&TWideBox::Wide, &TWideBox::SetWide>("Wide", PropKind::Set, 0, &kWideType);
    static const PropInfo* const list[] = {TComponent::StaticClassInfo().props[0], &wide};
    static const ClassInfo info{"TWideBox", &TBox::StaticClassInfo(), list, {}, {}, props::Create<TWideBox>};
    return info;
}

class TTestForm : public TBox {
public:
    explicit TTestForm(TComponent* owner = nullptr) : TBox(owner) {}
    TBox* Panel1 = nullptr;
    TButtonBox* Button1 = nullptr;
    std::vector<std::string> calls;
    void FormClick(TObject* sender) { calls.push_back("FormClick " + Who(sender)); }
    void ButtonClick(TObject* sender) { calls.push_back("ButtonClick " + Who(sender)); }
    void ButtonMouseUp(TObject* sender, TMouseButton, TShiftState, int x, int y) {
        calls.push_back("ButtonMouseUp " + Who(sender) + " " + std::to_string(x) + "," + std::to_string(y));
    }
    FW_CLASS_INFO();

private:
    static std::string Who(TObject* o) {
        auto* c = dynamic_cast<TComponent*>(o);
        return c ? c->Name() : "?";
    }
};

const ClassInfo& TTestForm::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&TTestForm::FormClick>("FormClick"),
                                         props::Method<&TTestForm::ButtonClick>("ButtonClick"),
                                         props::Method<&TTestForm::ButtonMouseUp>("ButtonMouseUp")};
    static const FieldInfo fields[] = {props::Field<&TTestForm::Panel1>("Panel1"),
                                       props::Field<&TTestForm::Button1>("Button1")};
    static const ClassInfo info{"TTestForm", &TBox::StaticClassInfo(), TBox::StaticClassInfo().props,
                                methods, fields};
    return info;
}

// A form whose constructor sets values that the text may leave out.
class TPresetForm : public TTestForm {
public:
    explicit TPresetForm(TComponent* owner = nullptr) : TTestForm(owner) {
        SetLeft(7);
        SetCaption("preset");
        Font()->SetHeight(20);
    }
    FW_CLASS_INFO();
};

const ClassInfo& TPresetForm::StaticClassInfo() {
    static const ClassInfo info{"TPresetForm", &TTestForm::StaticClassInfo(), TBox::StaticClassInfo().props, {},
                                {}};
    return info;
}

class Streaming : public testing::Test {
protected:
    void SetUp() override {
        RegisterClass(TBox::StaticClassInfo());
        RegisterClass(TButtonBox::StaticClassInfo());
        RegisterClass(TWideBox::StaticClassInfo());
        g_loaded.clear();
    }
};

// --- Round trip -----------------------------------------------------------------

// Form1 > Panel1 > Button1, and an unnamed box on the form.
void build(TTestForm& form) {
    form.SetName("Form1");
    form.SetLeft(251);
    form.SetCaption("Kelvora\xC4\xEA 'x'");
    form.SetColor(0);
    form.SetAlign(alClient);
    form.Font()->SetHeight(-12);
    form.Font()->SetColor(clBtnFace);
    form.OnClick.Bind(&form, &TTestForm::FormClick, "FormClick");

    auto* panel = new TBox(&form);
    panel->SetName("Panel1");
    panel->parent = &form;
    panel->SetStyle(TBoxStyles(1u << bsCenter | 1u << bsShowKey | 1u << bs7));
    panel->SetVisible(false);
    panel->SetColor(0x123456);

    auto* button = new TButtonBox(&form);
    button->SetName("Button1");
    button->parent = panel;
    button->SetLeft(-3);
    button->SetAlign(alClient);
    button->SetStyle(0xFF);
    for (int i = 0; i < 70; ++i) button->Picture()->bytes.push_back(static_cast<uint8_t>(i * 7));
    button->OnClick.Bind(&form, &TTestForm::ButtonClick, "ButtonClick");
    button->OnMouseUp.Bind(&form, &TTestForm::ButtonMouseUp, "ButtonMouseUp");

    auto* unnamed = new TBox(&form);
    unnamed->parent = &form;
    unnamed->SetLeft(5);
}

void expect_same_box(const TBox& a, const TBox& b) {
    SCOPED_TRACE(a.Name());
    EXPECT_EQ(a.Name(), b.Name());
    EXPECT_STREQ(a.ClassName(), b.ClassName());
    EXPECT_EQ(a.Left(), b.Left());
    EXPECT_EQ(a.Visible(), b.Visible());
    EXPECT_EQ(a.Align(), b.Align());
    EXPECT_EQ(a.Style(), b.Style());
    EXPECT_EQ(a.Color(), b.Color());
    EXPECT_EQ(a.Caption(), b.Caption());
    EXPECT_EQ(a.Font()->Height(), b.Font()->Height());
    EXPECT_EQ(a.Font()->Color(), b.Font()->Color());
    EXPECT_EQ(a.Font()->Name(), b.Font()->Name());
    EXPECT_EQ(a.Picture()->bytes, b.Picture()->bytes);
    EXPECT_EQ(a.OnClick.MethodName(), b.OnClick.MethodName());
    EXPECT_EQ(a.OnMouseUp.MethodName(), b.OnMouseUp.MethodName());
    EXPECT_EQ(a.parent ? a.parent->Name() : "-", b.parent ? b.parent->Name() : "-");
}

TEST_F(Streaming, AFormWrittenAndReadBackIsTheSameTree) {
    TTestForm original;
    build(original);
    const std::string text = WriteComponentToText(&original);

    TTestForm copy;
    ReadComponentFromText(text, &copy);
    EXPECT_EQ(copy.Name(), "Form1");
    expect_same_box(original, copy);
    ASSERT_EQ(copy.ComponentCount(), original.ComponentCount());
    for (int i = 0; i < copy.ComponentCount(); ++i)
        expect_same_box(*dynamic_cast<TBox*>(original.Components(i)), *dynamic_cast<TBox*>(copy.Components(i)));

    // The fields hold the new components and the events reach the new form.
    ASSERT_NE(copy.Panel1, nullptr);
    ASSERT_NE(copy.Button1, nullptr);
    EXPECT_EQ(copy.Button1->parent, copy.Panel1);
    copy.Button1->OnClick(copy.Button1);
    copy.Button1->OnMouseUp(copy.Button1, mbLeft, 0, 4, 5);
    copy.OnClick(&copy);
    EXPECT_EQ(copy.calls,
              (std::vector<std::string>{"ButtonClick Button1", "ButtonMouseUp Button1 4,5", "FormClick Form1"}));
    EXPECT_TRUE(original.calls.empty());

    EXPECT_EQ(WriteComponentToText(&copy), text);
}

TEST_F(Streaming, TheTextLeavesOutDefaults) {
    TTestForm form;
    build(form);
    const std::string expected =
        "object Form1: TTestForm\n"
        "  Left = 251\n"
        "  Align = alClient\n"
        "  Color = clBlack\n"
        "  Caption = 'Kelvora'#196#234' ''x'''\n"
        "  Font.Color = clBtnFace\n"
        "  Font.Height = -12\n"
        "  Font.Name = 'Arial'\n"
        "  OnClick = FormClick\n"
        "  object Panel1: TBox\n"
        "    Visible = False\n"
        "    Style = [bsCenter, bsShowKey, bs7]\n"
        "    Color = 1193046\n"
        "    Font.Name = 'Arial'\n"
        "    object Button1: TButtonBox\n"
        "      Left = -3\n"
        "      Align = alClient\n"
        "      Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey, bs4, bs5, bs6, bs7]\n"
        "      Font.Name = 'Arial'\n"
        "      Picture.Data = {\n"
        "        00070E151C232A31383F464D545B626970777E858C939AA1A8AFB6BDC4CBD2D9\n"
        "        E0E7EEF5FC030A11181F262D343B424950575E656C737A81888F969DA4ABB2B9\n"
        "        C0C7CED5DCE3}\n"
        "      OnClick = ButtonClick\n"
        "      OnMouseUp = ButtonMouseUp\n"
        "    end\n"
        "  end\n"
        "  object TBox\n"
        "    Left = 5\n"
        "    Font.Name = 'Arial'\n"
        "  end\n"
        "end\n";
    EXPECT_EQ(WriteComponentToText(&form), expected);
}

TEST_F(Streaming, EventsSetInCodeOrBoundElsewhereAreNotWritten) {
    TTestForm form, other;
    form.SetName("F");
    form.OnClick = [](TObject*) {};
    form.OnMouseUp.Bind(&other, &TTestForm::ButtonMouseUp, "ButtonMouseUp");
    EXPECT_EQ(WriteComponentToText(&form), "object F: TTestForm\n  Font.Name = 'Arial'\nend\n");
}

TEST_F(Streaming, AnAbsentPropertyKeepsItsConstructedValue) {
    TPresetForm form;
    ReadComponentFromText("object P: TPresetForm\n  Align = alTop\n  Font.Color = clSilver\nend", &form);
    EXPECT_EQ(form.Left(), 7);
    EXPECT_EQ(form.Caption(), "preset");
    EXPECT_EQ(form.Font()->Height(), 20);
    EXPECT_EQ(form.Font()->Name(), "Arial");
    EXPECT_EQ(form.Align(), alTop);
    EXPECT_EQ(form.Font()->Color(), 0xC0C0C0);

    // Written back, the constructed values that differ from the defaults show.
    TPresetForm again;
    ReadComponentFromText(WriteComponentToText(&form), &again);
    EXPECT_EQ(again.Left(), 7);
    EXPECT_EQ(again.Font()->Height(), 20);
}

TEST_F(Streaming, OneByteEnumerationsAndSetsRoundTripAtEveryValue) {
    for (int align = alNone; align <= alClient; ++align) {
        for (int style : {0x00, 0x01, 0x80, 0x5A, 0xFF}) {
            TTestForm form;
            form.SetAlign(static_cast<TAlign>(align));
            form.SetStyle(static_cast<TBoxStyles>(style));
            TTestForm copy;
            ReadComponentFromText(WriteComponentToText(&form), &copy);
            EXPECT_EQ(copy.Align(), align);
            EXPECT_EQ(copy.Style(), style);
        }
    }
}

TEST_F(Streaming, ValueSyntaxTheReaderTakes) {
    TTestForm form;
    ReadComponentFromText("object Form1 : ttestform\n"
                          "  LEFT = +12 Caption = 'a' + 'b'#13#10\n"
                          "    + '\xC4\xE3\xBA\xC3'''\n"
                          "  Color = clsilver Style = [ ] Align = ALTOP\n"
                          "  Font.Name = '' Font.Height = -2147483648\n"
                          "  Picture.Data = { 0a Ff\n 00 }\n"
                          "  object Panel1: tbox Visible = false end\n"
                          "end\n",
                          &form);
    EXPECT_EQ(form.Left(), 12);
    EXPECT_EQ(form.Caption(), "ab\r\n\xC4\xE3\xBA\xC3'");
    EXPECT_EQ(form.Color(), 0xC0C0C0);
    EXPECT_EQ(form.Style(), 0);
    EXPECT_EQ(form.Align(), alTop);
    EXPECT_EQ(form.Font()->Name(), "");
    EXPECT_EQ(form.Font()->Height(), INT32_MIN);
    EXPECT_EQ(form.Picture()->bytes, (std::vector<uint8_t>{0x0A, 0xFF, 0x00}));
    ASSERT_NE(form.Panel1, nullptr);
    EXPECT_FALSE(form.Panel1->Visible());
    // Bytes outside printable ASCII go back out as codes.
    EXPECT_NE(WriteComponentToText(&form).find("Caption = 'ab'#13#10#196#227#186#195''''\n"), std::string::npos);
}

TEST_F(Streaming, StatesWhileReadingAndLoadedInCreationOrder) {
    TTestForm form;
    ReadComponentFromText("object Form1: TTestForm\n"
                          "  Left = 1\n"
                          "  object Panel1: TBox\n"
                          "    Left = 2\n"
                          "    object B: TBox Left = 3 end\n"
                          "  end\n"
                          "  object Button1: TButtonBox Left = 4 end\n"
                          "end\n",
                          &form);
    EXPECT_EQ(g_loaded, (std::vector<std::string>{"Form1", "Panel1", "B", "Button1"}));
    const auto reading = TComponentState((1u << csLoading) | (1u << csReading));
    EXPECT_EQ(form.states_seen, reading);
    EXPECT_EQ(form.Panel1->states_seen, reading);
    for (int i = 0; i < form.ComponentCount(); ++i) EXPECT_EQ(form.Components(i)->ComponentState(), 0);
    EXPECT_EQ(form.ComponentState(), 0);
    EXPECT_EQ(dynamic_cast<TBox*>(form.FindComponent("B"))->parent, form.Panel1);
    EXPECT_EQ(form.Button1->parent, &form);
}

TEST_F(Streaming, ASecondFormUnderTheSameOwnerGetsAUniqueName) {
    TComponent app(nullptr);
    auto* first = new TTestForm(&app);
    auto* second = new TTestForm(&app);
    const char* text = "object Form1: TTestForm end";
    ReadComponentFromText(text, first);
    ReadComponentFromText(text, second);
    EXPECT_EQ(first->Name(), "Form1");
    EXPECT_EQ(second->Name(), "Form1_1");
}

TEST_F(Streaming, FormResourcesByClassName) {
    TPresetForm none;  // no resource is ever registered for it
    EXPECT_FALSE(InitInheritedComponent(&none));
    EXPECT_EQ(none.Left(), 7);
    TTestForm form;
    RegisterFormResource("TTestForm", "object Form9: TTestForm\n  Left = 9\nend\n");
    ASSERT_NE(FindFormResource("TTESTFORM"), nullptr);
    EXPECT_EQ(FindFormResource("TNoForm"), nullptr);
    EXPECT_TRUE(InitInheritedComponent(&form));
    EXPECT_EQ(form.Name(), "Form9");
    EXPECT_EQ(form.Left(), 9);
    RegisterFormResource("TTESTFORM", "object Form9: TTestForm\n  Left = 10\nend\n");  // replaces it
    TTestForm second;
    EXPECT_TRUE(InitInheritedComponent(&second));
    EXPECT_EQ(second.Left(), 10);
}

// --- Bad input ------------------------------------------------------------------

struct BadForm {
    const char* what;
    std::string text;
    int line;  // the line the message must name
};

std::string nested(int depth) {
    std::string s = "object Form1: TTestForm\n";
    for (int i = 0; i < depth; ++i) s += "object TBox\n";
    for (int i = 0; i < depth; ++i) s += "end\n";
    return s + "end\n";
}

TEST_F(Streaming, MalformedFormsRaiseReadErrorsNamingTheLineAndLeaveNothingBehind) {
    const std::string head = "object Form1: TTestForm\n  object Panel1: TBox\n";  // lines 1-2
    const std::vector<BadForm> cases = {
        {"empty text", "", 1},
        {"no object", "end", 1},
        {"other root class", "object Form1: TBox\nend", 1},
        {"unknown class", head + "  end\n  object X: TNothing\n  end\nend", 4},
        {"unknown property", head + "    Width = 3\n  end\nend", 3},
        {"unknown enum member", head + "    Align = alMiddle\n  end\nend", 3},
        {"enum as number", head + "    Align = 1\n  end\nend", 3},
        {"unknown set member", head + "    Style = [bsCenter, bsNone]\n  end\nend", 3},
        {"set without end", head + "    Style = [bsCenter bsShowKey]\n  end\nend", 3},
        {"set member past a byte", "object Form1: TTestForm\n  object W: TWideBox\n    Wide = [w8]\n  end\nend", 3},
        {"integer too large", head + "    Left = 2147483648\n  end\nend", 3},
        {"integer far too large", head + "    Left = 99999999999999999999999\n  end\nend", 3},
        {"integer too small", head + "    Left = -2147483649\n  end\nend", 3},
        {"unknown integer ident", head + "    Color = clPink\n  end\nend", 3},
        {"string for integer", head + "    Left = '3'\n  end\nend", 3},
        {"integer for string", head + "    Caption = 3\n  end\nend", 3},
        {"boolean not a boolean", head + "    Visible = Yes\n  end\nend", 3},
        {"unterminated string", head + "    Caption = 'abc\n  end\nend", 3},
        {"string at end of text", head + "    Caption = 'abc", 3},
        {"character code too large", head + "    Caption = #256\n  end\nend", 3},
        {"character code missing", head + "    Caption = 'a'#\n  end\nend", 3},
        {"dangling plus", head + "    Caption = 'a' +\n  end\nend", 3},
        {"unterminated data", head + "    Picture.Data = {0A0B\n", 4},
        {"odd data", head + "    Picture.Data = {0A0}\n  end\nend", 3},
        {"bad data digit", head + "    Picture.Data = {0G}\n  end\nend", 3},
        {"data refused", head + "    Picture.Data = {424144}\n  end\nend", 3},
        {"data on a plain object", head + "    Font.Data = {00}\n  end\nend", 3},
        {"data for a string", head + "    Caption = {00}\n  end\nend", 3},
        {"path through a value", head + "    Left.Height = 3\n  end\nend", 3},
        {"object given a value", head + "    Font = 3\n  end\nend", 3},
        {"path too long", head + "    Font.A.B.C.D.E.F.G.H.I = 3\n  end\nend", 3},
        {"unknown method", head + "    OnClick = Nowhere\n  end\nend", 3},
        {"method of another signature", head + "    OnClick = ButtonMouseUp\n  end\nend", 3},
        {"duplicate name", head + "  end\n  object Panel1: TBox\n  end\nend", 4},
        {"field of another class", head + "  end\n  object Button1: TBox\n  end\nend", 4},
        {"invalid name", head + "  end\n  object 1x: TBox\n  end\nend", 4},
        {"setter refuses", head + "    Left = -20000\n  end\nend", 3},
        {"missing equals", head + "    Left 3\n  end\nend", 3},
        {"missing end", head, 3},  // the end of the text
        {"text after the end", head + "  end\nend\nend", 5},
        {"odd character", head + "    Left = 3;\n  end\nend", 3},
        {"runaway nesting", nested(200), 66},
    };
    for (const BadForm& c : cases) {
        SCOPED_TRACE(c.what);
        TTestForm form;
        try {
            ReadComponentFromText(c.text, &form);
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Line " + std::to_string(c.line) + ": ", 0), 0u) << e.what();
        }
        // What the failed read made is gone, and nothing points at it.
        EXPECT_EQ(form.ComponentCount(), 0);
        EXPECT_EQ(form.Panel1, nullptr);
        EXPECT_EQ(form.Button1, nullptr);
        EXPECT_EQ(form.ComponentState(), 0);
    }
}

TEST_F(Streaming, MessagesSayWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"object F: TTestForm\n object X: TNothing end end", "Line 2: Class TNothing not found"},
        {"object F: TTestForm\n Width = 1 end", "Line 2: Property Width does not exist in TTestForm"},
        {"object F: TTestForm\n OnClick = Nowhere end", "Line 2: Method Nowhere not found in TTestForm"},
        {"object F: TTestForm\n Picture.Data = {424144} end", "Line 2: Bitmap image is not valid"},
        {"object F: TBox end", "Line 1: Form class TBox does not match TTestForm"},
    };
    for (const auto& [text, message] : cases) {
        TTestForm form;
        try {
            ReadComponentFromText(text, &form);
            ADD_FAILURE() << text;
        } catch (const EReadError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

// A string with a declared default is written only when it differs from it,
// so an emptied one survives a round trip.
class TCaptioned : public TComponent {
public:
    using TComponent::TComponent;
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& c) { caption_ = c; }
    FW_CLASS_INFO();

private:
    std::string caption_ = "none";
};

const ClassInfo& TCaptioned::StaticClassInfo() {
    static const PropInfo caption = props::Str<&TCaptioned::Caption, &TCaptioned::SetCaption>("Caption", "none");
    static const PropInfo* const list[] = {&caption};
    static const ClassInfo info{"TCaptioned", &TComponent::StaticClassInfo(), list, {}, {}};
    return info;
}

TEST(StringDefaults, WrittenOnlyWhenTheyDifferFromTheDefault) {
    struct Case { const char* value; const char* text; } const cases[] = {
        {"none", "object C: TCaptioned\nend\n"},
        {"", "object C: TCaptioned\n  Caption = ''\nend\n"},
        {"some", "object C: TCaptioned\n  Caption = 'some'\nend\n"},
    };
    for (const Case& c : cases) {
        TCaptioned written(nullptr);
        written.SetName("C");
        written.SetCaption(c.value);
        const std::string text = WriteComponentToText(&written);
        EXPECT_EQ(text, c.text);
        TCaptioned read(nullptr);
        ReadComponentFromText(text, &read);
        EXPECT_EQ(read.Caption(), c.value);
    }
}

}  // namespace
