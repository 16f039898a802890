// Components: ownership, names, notifications, state; events; the tables
// that bind published methods and fields by name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classes.h"

namespace {

// Records what happens to it in a log shared by a test.
class TLogged : public TComponent {
public:
    // Named before it joins its owner, so that the owner's log shows it.
    TLogged(TComponent* owner, std::vector<std::string>* log, const std::string& name)
        : TComponent(nullptr), log_(log) {
        SetName(name);
        if (owner) owner->InsertComponent(this);
    }
    // '*': already marked as going when freed by its owner.
    ~TLogged() override {
        if (log_) log_->push_back("~" + Name() + (HasState(csDestroying) ? "*" : ""));
    }
    TComponent* watched = nullptr;  // cleared when it goes

protected:
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (log_) log_->push_back(Name() + (op == opInsert ? " +" : " -") + c->Name());
        if (op == opRemove && c == watched) watched = nullptr;
    }

private:
    std::vector<std::string>* log_;
};

TEST(Component, OwnerFreesWhatItOwnsNewestFirstAndChildrenBeforeTheirOwnerLeaves) {
    std::vector<std::string> log;
    auto* root = new TLogged(nullptr, &log, "Root");
    auto* a = new TLogged(root, &log, "A");
    new TLogged(a, nullptr, "A1");
    new TLogged(root, nullptr, "B");
    auto* c = new TLogged(root, nullptr, "C");
    ASSERT_EQ(root->ComponentCount(), 3);
    EXPECT_EQ(c->Owner(), root);
    log.clear();
    delete root;
    // Newest first: A hears of C and B going before it is freed itself,
    // marked as going.
    EXPECT_EQ(log, (std::vector<std::string>{"~Root", "A -C", "A -B", "~A*"}));
}

TEST(Component, AComponentFreedByItselfLeavesItsOwner) {
    std::vector<std::string> log;
    TLogged root(nullptr, &log, "Root");
    auto* a = new TLogged(&root, nullptr, "A");
    auto* b = new TLogged(&root, nullptr, "B");
    delete a;
    ASSERT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(root.Components(0), b);
    EXPECT_EQ(root.FindComponent("A"), nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"Root +A", "Root +B", "Root -A"}));
}

TEST(Component, OwnersAndSiblingsHearOfInsertAndRemove) {
    std::vector<std::string> log;
    TLogged root(nullptr, &log, "Root");
    TLogged other(nullptr, &log, "Other");
    auto* a = new TLogged(&root, &log, "A");
    auto* b = new TLogged(&root, nullptr, "B");
    other.InsertComponent(b);  // moves it
    EXPECT_EQ(b->Owner(), &other);
    EXPECT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"Root +A", "A +B", "Root +B", "A -B", "Root -B", "Other +B"}));
    EXPECT_EQ(a->Owner(), &root);
}

TEST(Component, FreeNotificationTellsTheOtherSideAndGoesWhenEitherDoes) {
    std::vector<std::string> log;
    auto* form1 = new TLogged(nullptr, nullptr, "Form1");
    auto* form2 = new TLogged(nullptr, nullptr, "Form2");
    auto* target = new TLogged(form1, nullptr, "Target");
    auto* watcher = new TLogged(form2, &log, "Watcher");
    watcher->watched = target;
    watcher->FreeNotification(target);
    delete target;
    EXPECT_EQ(watcher->watched, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"Watcher -Target"}));

    // The link is kept when either side merely changes owner, and freeing
    // the watcher first must leave nothing behind in the target.
    auto* target2 = new TLogged(form1, nullptr, "Target2");
    watcher->FreeNotification(target2);
    form2->InsertComponent(target2);
    form1->InsertComponent(target2);
    delete watcher;
    delete target2;  // would call into the freed watcher if a link were left

    // Removed links say nothing.
    log.clear();
    auto* w2 = new TLogged(form2, &log, "W2");
    auto* t3 = new TLogged(form1, nullptr, "T3");
    w2->FreeNotification(t3);
    w2->RemoveFreeNotification(t3);
    delete t3;
    EXPECT_TRUE(log.empty());
    delete form1;
    delete form2;
}

TEST(Component, NamesAreUniqueAmongSiblingsCaseInsensitivelyAndMustBeIdentifiers) {
    TComponent root(nullptr);
    auto* a = new TComponent(&root);
    a->SetName("Button1");
    auto* b = new TComponent(&root);
    EXPECT_THROW(b->SetName("BUTTON1"), EInvalidOperation);
    EXPECT_EQ(b->Name(), "");
    b->SetName("Button2");
    EXPECT_EQ(root.FindComponent("button2"), b);
    EXPECT_EQ(root.FindComponent(""), nullptr);
    a->SetName("Button1");  // its own name again is fine
    a->SetName("");         // unnamed components may be many
    b->SetName("");
    EXPECT_EQ(root.FindComponent(""), nullptr);

    for (const char* bad : {"1abc", "a b", "a.b", "a-b", "\xC4\xE3"})
        EXPECT_THROW(a->SetName(bad), EInvalidOperation) << bad;
    for (const char* good : {"_x", "Label_2", "x9"}) EXPECT_NO_THROW(a->SetName(good)) << good;

    // The same name under another owner is fine.
    TComponent other(nullptr);
    auto* c = new TComponent(&other);
    c->SetName("x9");
}

TEST(Component, InsertingANameTakenInTheNewOwnerLeavesTheComponentWhereItWas) {
    TComponent root(nullptr), other(nullptr);
    auto* a = new TComponent(&root);
    a->SetName("Same");
    auto* b = new TComponent(&other);
    b->SetName("Same");
    EXPECT_THROW(root.InsertComponent(b), EInvalidOperation);
    EXPECT_EQ(b->Owner(), &other);
    EXPECT_EQ(other.ComponentCount(), 1);
}

TEST(Component, OwnerLoopsAreRefused) {
    TComponent root(nullptr);
    auto* a = new TComponent(&root);
    auto* a1 = new TComponent(a);
    EXPECT_THROW(a1->InsertComponent(&root), EInvalidOperation);
    EXPECT_THROW(a1->InsertComponent(a), EInvalidOperation);
    EXPECT_THROW(a->InsertComponent(a), EInvalidOperation);
    EXPECT_EQ(a->Owner(), &root);
    EXPECT_EQ(root.Owner(), nullptr);
}

TEST(Component, StateFlagsAndTag) {
    TComponent root(nullptr);
    auto* a = new TComponent(&root);
    auto* a1 = new TComponent(a);
    root.SetDesigning(true);
    EXPECT_TRUE(a1->HasState(csDesigning));
    root.SetDesigning(false);
    EXPECT_FALSE(a->HasState(csDesigning));
    a->SetState(csLoading, true);
    a->SetState(csReading, true);
    EXPECT_EQ(a->ComponentState(), (1u << csLoading) | (1u << csReading));
    a->Loaded();
    EXPECT_FALSE(a->HasState(csLoading));
    a->SetTag(-5);
    EXPECT_EQ(a->Tag(), -5);
}

// --- Events -------------------------------------------------------------------

class THandler : public TComponent {
public:
    using TComponent::TComponent;
    void Clicked(TObject* sender) { senders.push_back(sender); }
    void Mouse(TObject* sender, TMouseButton b, TShiftState, int x, int y) {
        senders.push_back(sender);
        last = {b, x, y};
    }
    std::vector<TObject*> senders;
    struct { TMouseButton b; int x, y; } last{};
    TNotifyEvent OnSelf;
    void ClearsItself(TObject*) {
        OnSelf.Clear();
        ++cleared;
    }
    int cleared = 0;
    FW_CLASS_INFO();
};

class TOtherHandler : public TComponent {
public:
    using TComponent::TComponent;
    void Clicked(TObject*) {}
};

class TField : public TComponent {
public:
    using TComponent::TComponent;
    THandler* Handler1 = nullptr;
    FW_CLASS_INFO();
};

const ClassInfo& THandler::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&THandler::Clicked>("Clicked"),
                                         props::Method<&THandler::Mouse>("Mouse")};
    static const ClassInfo info{"THandler", &TComponent::StaticClassInfo(), TComponent::StaticClassInfo().props,
                                methods, {}, props::Create<THandler>};
    return info;
}

const ClassInfo& TField::StaticClassInfo() {
    static const FieldInfo fields[] = {props::Field<&TField::Handler1>("Handler1")};
    static const ClassInfo info{"TField", &TComponent::StaticClassInfo(), TComponent::StaticClassInfo().props,
                                {}, fields};
    return info;
}

TEST(Events, FireOnlyWhenAssignedAndPassTheSender) {
    THandler h(nullptr);
    TComponent sender(nullptr);
    TNotifyEvent e;
    EXPECT_FALSE(e.Assigned());
    e(&sender);  // nothing to call: no effect
    e.Bind(&h, &THandler::Clicked, "Clicked");
    EXPECT_TRUE(e);
    EXPECT_EQ(e.Target(), &h);
    EXPECT_EQ(e.MethodName(), "Clicked");
    e(&sender);
    EXPECT_EQ(h.senders, (std::vector<TObject*>{&sender}));
    // A closure set in code has no method name to write.
    int calls = 0;
    e = [&](TObject*) { ++calls; };
    EXPECT_EQ(e.MethodName(), "");
    EXPECT_EQ(e.Target(), nullptr);
    e(&sender);
    EXPECT_EQ(calls, 1);
    e.Clear();
    e(&sender);
    EXPECT_EQ(calls, 1);
}

TEST(Events, AHandlerMayClearItsOwnEventWhileRunning) {
    THandler h(nullptr);
    h.OnSelf.Bind(&h, &THandler::ClearsItself);
    h.OnSelf(&h);
    h.OnSelf(&h);
    EXPECT_EQ(h.cleared, 1);
    EXPECT_FALSE(h.OnSelf.Assigned());

    // A closure that still uses what it captured after replacing itself.
    std::vector<std::string> seen;
    TNotifyEvent e;
    e = [&e, &seen, text = std::string(64, 'x')](TObject*) {
        e = [&seen](TObject*) { seen.push_back("second"); };
        seen.push_back(text);
    };
    e(nullptr);
    e(nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{std::string(64, 'x'), "second"}));
}

TEST(Events, PublishedMethodsBindByNameOnlyToTheirOwnSignatureAndClass) {
    THandler h(nullptr);
    const MethodInfo* clicked = h.GetClassInfo()->FindMethod("CLICKED");
    const MethodInfo* mouse = h.GetClassInfo()->FindMethod("Mouse");
    ASSERT_TRUE(clicked && mouse);
    EXPECT_EQ(h.GetClassInfo()->FindMethod("Missing"), nullptr);

    TNotifyEvent notify;
    TMouseEvent mouse_event;
    EXPECT_FALSE(clicked->bind(&h, mouse_event, "Clicked"));
    EXPECT_FALSE(mouse->bind(&h, notify, "Mouse"));
    EXPECT_FALSE(mouse_event.Assigned());
    EXPECT_FALSE(notify.Assigned());

    TOtherHandler other(nullptr);
    EXPECT_FALSE(clicked->bind(&other, notify, "Clicked"));

    TComponent sender(nullptr);
    ASSERT_TRUE(mouse->bind(&h, mouse_event, "Mouse"));
    EXPECT_EQ(mouse_event.MethodName(), "Mouse");
    mouse_event(&sender, mbRight, 0, 3, 4);
    EXPECT_EQ(h.senders, (std::vector<TObject*>{&sender}));
    EXPECT_EQ(h.last.b, mbRight);
    EXPECT_EQ(h.last.x, 3);
    EXPECT_EQ(h.last.y, 4);
}

TEST(Events, PublishedFieldsTakeOnlyTheirClass) {
    TField form(nullptr);
    const FieldInfo* f = form.GetClassInfo()->FindField("handler1");
    ASSERT_NE(f, nullptr);
    THandler right(nullptr);
    TOtherHandler wrong(nullptr);
    EXPECT_FALSE(f->assign(&form, &wrong));
    EXPECT_EQ(form.Handler1, nullptr);
    EXPECT_TRUE(f->assign(&form, &right));
    EXPECT_EQ(form.Handler1, &right);
    THandler not_a_form(nullptr);
    EXPECT_FALSE(f->assign(&not_a_form, &right));
    EXPECT_TRUE(f->assign(&form, nullptr));
    EXPECT_EQ(form.Handler1, nullptr);
}

// --- Type information ---------------------------------------------------------

TEST(TypeInfo, ClassesByNameAndTheirAncestry) {
    RegisterClass(THandler::StaticClassInfo());
    EXPECT_EQ(FindClass("thandler"), &THandler::StaticClassInfo());
    EXPECT_EQ(FindClass("TNothing"), nullptr);
    const ClassInfo* info = FindClass("THANDLER");
    ASSERT_TRUE(info && info->create);
    TComponent owner(nullptr);
    TComponent* made = info->create(&owner);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_STREQ(made->ClassName(), "THandler");
    EXPECT_TRUE(made->InheritsFrom(TComponent::StaticClassInfo()));
    EXPECT_FALSE(made->InheritsFrom(TField::StaticClassInfo()));
    EXPECT_NE(info->FindProp("name"), nullptr);
}

TEST(TypeInfo, IdentsBothWays) {
    static const char* const names[] = {"alNone", "alTop", "alClient"};
    static const IdentValue colours[] = {{"clBlack", 0}, {"clBtnFace", INT32_MIN + 15}};
    const TypeInfo align{"TAlign", names, {}};
    const TypeInfo colour{"TColor", {}, colours};
    EXPECT_EQ(IdentOf(&align, 2), "alClient");
    EXPECT_EQ(IdentOf(&align, 3), "");
    EXPECT_EQ(IdentOf(&align, -1), "");
    EXPECT_EQ(ValueOf(&align, "ALTOP"), 1);
    EXPECT_EQ(ValueOf(&align, "alBottom"), std::nullopt);
    EXPECT_EQ(IdentOf(&colour, INT32_MIN + 15), "clBtnFace");
    EXPECT_EQ(IdentOf(&colour, 5), "");
    EXPECT_EQ(ValueOf(&colour, "clbtnface"), INT32_MIN + 15);
    EXPECT_EQ(IdentOf(nullptr, 0), "");
    EXPECT_EQ(ValueOf(nullptr, "x"), std::nullopt);
}

TEST(Persistent, AssignWithoutSupportSaysWhatWasRefused) {
    TComponent a(nullptr), b(nullptr);
    try {
        a.Assign(&b);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TComponent to a TComponent.");
    }
    try {
        a.Assign(nullptr);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a nil to a TComponent.");
    }
}

}  // namespace
