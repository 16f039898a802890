#include "streaming.h"

#include <map>
#include <set>
#include <vector>

namespace {

constexpr int kMaxObjectDepth = 64;   // nested "object" blocks
constexpr int kMaxPathDepth = 8;      // Font.Style… segments / sub-object levels

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

[[noreturn]] void fail(int line, const std::string& what) {
    throw EReadError("Line " + std::to_string(line) + ": " + what);
}

// --- Tokens -----------------------------------------------------------------

enum class Tok { End, Ident, Integer, String, Data, Symbol };

struct Token {
    Tok kind = Tok::End;
    int line = 1;
    std::string text;            // ident, string bytes
    int64_t number = 0;          // integer (no sign)
    char symbol = 0;             // = : . , [ ] + -
    std::vector<uint8_t> data;   // data block
};

class Lexer {
public:
    explicit Lexer(std::string_view text) : s_(text) {}

    Token next() {
        skip_blanks();
        Token t;
        t.line = line_;
        if (pos_ >= s_.size()) return t;
        const char c = s_[pos_];
        if (is_alpha(c)) {
            t.kind = Tok::Ident;
            while (pos_ < s_.size() && (is_alpha(s_[pos_]) || is_digit(s_[pos_]))) t.text += s_[pos_++];
            return t;
        }
        if (is_digit(c)) {
            t.kind = Tok::Integer;
            while (pos_ < s_.size() && is_digit(s_[pos_])) {
                t.number = t.number * 10 + (s_[pos_++] - '0');
                if (t.number > (int64_t(1) << 32)) fail(line_, "Number out of range");
            }
            if (pos_ < s_.size() && is_alpha(s_[pos_])) fail(line_, "Invalid number");
            return t;
        }
        if (c == '\'' || c == '#') {
            t.kind = Tok::String;
            read_string(t.text);
            return t;
        }
        if (c == '{') {
            t.kind = Tok::Data;
            read_data(t.data);
            return t;
        }
        if (std::string_view("=:.,[]+-").find(c) != std::string_view::npos) {
            t.kind = Tok::Symbol;
            t.symbol = c;
            ++pos_;
            return t;
        }
        fail(line_, "Invalid character #" + std::to_string(static_cast<unsigned char>(c)));
    }

private:
    static bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    void skip_blanks() {
        while (pos_ < s_.size() && is_blank(s_[pos_])) {
            if (s_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    // Quoted runs and #n codes, written next to each other.
    void read_string(std::string& out) {
        while (pos_ < s_.size()) {
            if (s_[pos_] == '#') {
                ++pos_;
                int value = 0, digits = 0;
                while (pos_ < s_.size() && is_digit(s_[pos_])) {
                    value = value * 10 + (s_[pos_++] - '0');
                    if (++digits > 3 || value > 255) fail(line_, "Invalid character code in string");
                }
                if (digits == 0) fail(line_, "Invalid character code in string");
                out += static_cast<char>(value);
            } else if (s_[pos_] == '\'') {
                ++pos_;
                for (;;) {
                    if (pos_ >= s_.size()) fail(line_, "Unterminated string");
                    const auto b = static_cast<unsigned char>(s_[pos_]);
                    if (b == '\'') {
                        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
                            out += '\'';
                            pos_ += 2;
                            continue;
                        }
                        ++pos_;
                        break;
                    }
                    if (b < 0x20 || b == 0x7F) fail(line_, "Unterminated string");
                    out += static_cast<char>(b);
                    ++pos_;
                }
            } else {
                return;
            }
        }
    }

    void read_data(std::vector<uint8_t>& out) {
        ++pos_;  // '{'
        int high = -1;
        for (;;) {
            if (pos_ >= s_.size()) fail(line_, "Unterminated data block");
            const char c = s_[pos_++];
            if (c == '}') break;
            if (is_blank(c)) {
                if (c == '\n') ++line_;
                continue;
            }
            int v;
            if (c >= '0' && c <= '9') v = c - '0';
            else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
            else fail(line_, "Invalid data block");
            if (high < 0) {
                high = v;
            } else {
                out.push_back(static_cast<uint8_t>(high << 4 | v));
                high = -1;
            }
        }
        if (high >= 0) fail(line_, "Odd number of digits in data block");
    }

    std::string_view s_;
    size_t pos_ = 0;
    int line_ = 1;
};

// --- Reader -----------------------------------------------------------------

class Reader {
public:
    Reader(std::string_view text, TComponent* root) : lex_(text), root_(root) { advance(); }

    void run() {
        read_object(nullptr, 0);
        if (tok_.kind != Tok::End) fail(tok_.line, "Text after the end of the form");
        resolve_references();
        // Everything is read: tell each component, in the order it was made.
        finish(root_);
        for (size_t i = 0; i < created_.size(); ++i) finish(created_[i]);
    }

    // Takes back what a failed read made: the fields first, so that nothing
    // points at the freed components, then the components, newest first.
    void undo() noexcept {
        for (const FieldInfo* f : fields_) f->assign(root_, nullptr);
        while (!created_.empty()) {
            TComponent* c = created_.back();
            created_.pop_back();
            delete c;
        }
        root_->SetState(csReading, false);
        root_->SetState(csLoading, false);
    }

private:
    void advance() { tok_ = lex_.next(); }

    bool at_word(const char* word) const { return tok_.kind == Tok::Ident && SameText(tok_.text, word); }
    bool at_symbol(char c) const { return tok_.kind == Tok::Symbol && tok_.symbol == c; }

    std::string expect_ident(const char* what) {
        if (tok_.kind != Tok::Ident) fail(tok_.line, std::string("Expected ") + what);
        std::string s = std::move(tok_.text);
        advance();
        return s;
    }
    void expect_symbol(char c) {
        if (!at_symbol(c)) fail(tok_.line, std::string("Expected '") + c + "'");
        advance();
    }

    // Setters, constructors and Loaded may throw their own errors; the reader
    // reports them all as read errors of the line they came from.
    template <class F>
    void guarded(int line, F&& f) {
        try {
            f();
        } catch (const EReadError&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            fail(line, e.what());
        }
    }

    // A reference may name a component that comes later in the text, so
    // references are set once everything is made.
    struct Reference {
        TPersistent* target;
        const PropInfo* prop;
        std::string name;
        int line;
        std::string shown;
    };

    void resolve_references() {
        for (const Reference& r : references_) {
            TComponent* found = nullptr;
            if (!SameText(r.name, "nil")) {
                found = SameText(r.name, root_->Name()) ? root_ : root_->FindComponent(r.name);
                if (!found) fail(r.line, "Component " + r.name + " not found for property " + r.shown);
            }
            bool fits = false;
            guarded(r.line, [&] { fits = r.prop->set_comp(r.target, found); });
            if (!fits) fail(r.line, "Component " + r.name + " does not fit property " + r.shown);
        }
    }

    void finish(TComponent* c) {
        guarded(tok_.line, [&] {
            c->SetState(csReading, false);
            c->Loaded();
            c->SetState(csLoading, false);
        });
    }

    void read_object(TComponent* parent, int depth) {
        if (depth > kMaxObjectDepth) fail(tok_.line, "Objects nested too deeply");
        const int line = tok_.line;
        if (!at_word("object")) fail(line, "Expected 'object'");
        advance();
        std::string name = expect_ident("a name or class name");
        std::string class_name;
        if (at_symbol(':')) {
            advance();
            class_name = expect_ident("a class name");
        } else {
            class_name = std::move(name);
            name.clear();
        }
        if (SameText(name, "end") || SameText(name, "object")) fail(line, "Invalid name " + name);

        TComponent* comp = parent ? create_child(parent, name, class_name, line) : start_root(name, class_name, line);

        while (tok_.kind == Tok::Ident && !at_word("object") && !at_word("end")) read_property(comp);
        while (at_word("object")) read_object(comp, depth + 1);
        if (!at_word("end")) fail(tok_.line, "Expected 'end'");
        advance();
        comp->SetState(csReading, false);
    }

    TComponent* start_root(const std::string& name, const std::string& class_name, int line) {
        if (!SameText(class_name, root_->ClassName()))
            fail(line, "Form class " + class_name + " does not match " + root_->ClassName());
        root_->SetState(csLoading, true);
        root_->SetState(csReading, true);
        if (!name.empty() && !SameText(name, root_->Name())) {
            // A second instance under the same owner gets Form1_1, Form1_2…
            std::string unique = name;
            TComponent* owner = root_->Owner();
            for (int n = 1; owner && owner->FindComponent(unique) && owner->FindComponent(unique) != root_; ++n)
                unique = name + "_" + std::to_string(n);
            guarded(line, [&] { root_->SetName(unique); });
        }
        return root_;
    }

    TComponent* create_child(TComponent* parent, const std::string& name, const std::string& class_name,
                             int line) {
        const ClassInfo* info = FindClass(class_name);
        if (!info) fail(line, "Class " + class_name + " not found");
        if (!info->create) fail(line, "Class " + class_name + " cannot be created");
        TComponent* comp = nullptr;
        guarded(line, [&] { comp = info->create(root_); });
        if (!comp) fail(line, "Class " + class_name + " cannot be created");
        created_.push_back(comp);  // from here on undo() frees it
        if (comp->Owner() != root_) guarded(line, [&] { root_->InsertComponent(comp); });
        comp->SetState(csLoading, true);
        comp->SetState(csReading, true);
        if (!name.empty()) {
            guarded(line, [&] { comp->SetName(name); });
            if (const FieldInfo* f = root_->GetClassInfo()->FindField(name)) {
                if (!f->assign(root_, comp))
                    fail(line, std::string("Field ") + f->name + " cannot hold a " + comp->ClassName());
                fields_.push_back(f);
            }
        }
        guarded(line, [&] { comp->SetParentComponent(parent); });
        return comp;
    }

    void read_property(TComponent* comp) {
        const int line = tok_.line;
        std::vector<std::string> path{expect_ident("a property name")};
        while (at_symbol('.')) {
            advance();
            if (path.size() >= kMaxPathDepth) fail(line, "Property path too long");
            path.push_back(expect_ident("a property name"));
        }
        expect_symbol('=');

        TPersistent* target = comp;
        std::string shown = path[0];
        for (size_t i = 0; i + 1 < path.size(); ++i) {
            const PropInfo* p = target->GetClassInfo()->FindProp(path[i]);
            if (!p || p->kind != PropKind::Class || !p->get_obj)
                fail(line, "Property " + shown + " of " + comp->ClassName() + " is not an object");
            TPersistent* sub = p->get_obj(target);
            if (!sub) fail(line, "Property " + shown + " has no object");
            target = sub;
            shown += "." + path[i + 1];
        }
        const PropInfo* p = target->GetClassInfo()->FindProp(path.back());
        if (!p) {
            if (SameText(path.back(), "Data") && target->HasData()) {
                read_data(target, line, shown);
                return;
            }
            fail(line, "Property " + shown + " does not exist in " + comp->ClassName());
        }
        read_value(target, *p, line, shown);
    }

    void read_data(TPersistent* target, int line, const std::string& shown) {
        if (tok_.kind != Tok::Data) fail(line, "Invalid value for property " + shown);
        std::vector<uint8_t> bytes = std::move(tok_.data);
        advance();
        guarded(line, [&] { target->ReadData(bytes); });
    }

    [[noreturn]] void bad_value(int line, const std::string& shown) {
        fail(line, "Invalid value for property " + shown);
    }

    void set_ord(TPersistent* target, const PropInfo& p, int64_t v, int line, const std::string& shown) {
        if (!p.set_ord) fail(line, "Property " + shown + " is read-only");
        guarded(line, [&] { p.set_ord(target, v); });
    }

    void read_value(TPersistent* target, const PropInfo& p, int line, const std::string& shown) {
        switch (p.kind) {
        case PropKind::Integer: {
            int64_t v;
            if (tok_.kind == Tok::Ident) {
                auto named = ValueOf(p.type, tok_.text);
                if (!named) fail(line, "Unknown value " + tok_.text + " for property " + shown);
                v = *named;
                advance();
            } else {
                bool negative = false;
                if (at_symbol('-') || at_symbol('+')) {
                    negative = tok_.symbol == '-';
                    advance();
                }
                if (tok_.kind != Tok::Integer) bad_value(line, shown);
                v = negative ? -tok_.number : tok_.number;
                if (v < INT32_MIN || v > INT32_MAX) fail(line, "Number out of range for property " + shown);
                advance();
            }
            set_ord(target, p, v, line, shown);
            return;
        }
        case PropKind::Boolean: {
            if (tok_.kind != Tok::Ident) bad_value(line, shown);
            int64_t v;
            if (SameText(tok_.text, "True")) v = 1;
            else if (SameText(tok_.text, "False")) v = 0;
            else bad_value(line, shown);
            advance();
            set_ord(target, p, v, line, shown);
            return;
        }
        case PropKind::Enum: {
            if (tok_.kind != Tok::Ident || !p.type) bad_value(line, shown);
            auto v = ValueOf(p.type, tok_.text);
            if (!v || *v < 0 || static_cast<size_t>(*v) >= p.type->names.size() || *v > 255)
                fail(line, "Unknown value " + tok_.text + " for property " + shown);
            advance();
            set_ord(target, p, *v, line, shown);
            return;
        }
        case PropKind::Set: {
            if (!at_symbol('[') || !p.type) bad_value(line, shown);
            advance();
            int64_t bits = 0;
            if (!at_symbol(']')) {
                for (;;) {
                    if (tok_.kind != Tok::Ident) bad_value(line, shown);
                    auto v = ValueOf(p.type, tok_.text);
                    // A set lives in one byte.
                    if (!v || *v < 0 || static_cast<size_t>(*v) >= p.type->names.size() || *v > 7)
                        fail(line, "Unknown value " + tok_.text + " for property " + shown);
                    bits |= int64_t(1) << *v;
                    advance();
                    if (at_symbol(']')) break;
                    expect_symbol(',');
                }
            }
            advance();  // ']'
            set_ord(target, p, bits, line, shown);
            return;
        }
        case PropKind::String: {
            if (tok_.kind != Tok::String) bad_value(line, shown);
            std::string v = std::move(tok_.text);
            advance();
            while (at_symbol('+')) {
                advance();
                if (tok_.kind != Tok::String) bad_value(line, shown);
                v += tok_.text;
                advance();
            }
            if (!p.set_str) fail(line, "Property " + shown + " is read-only");
            guarded(line, [&] { p.set_str(target, v); });
            return;
        }
        case PropKind::Event: {
            if (tok_.kind != Tok::Ident || !p.get_event) bad_value(line, shown);
            const MethodInfo* m = root_->GetClassInfo()->FindMethod(tok_.text);
            if (!m) fail(line, "Method " + tok_.text + " not found in " + root_->ClassName());
            EventBase* event = p.get_event(target);
            if (!event || !m->bind(root_, *event, m->name))
                fail(line, std::string("Method ") + m->name + " does not fit event " + shown);
            advance();
            return;
        }
        case PropKind::Component: {
            if (tok_.kind != Tok::Ident || !p.set_comp) bad_value(line, shown);
            references_.push_back({target, &p, std::move(tok_.text), line, shown});
            advance();
            return;
        }
        case PropKind::Class:
            fail(line, "Property " + shown + " is an object; set its properties instead");
        }
        bad_value(line, shown);
    }

    Lexer lex_;
    Token tok_;
    TComponent* root_;
    std::vector<TComponent*> created_;
    std::vector<const FieldInfo*> fields_;
    std::vector<Reference> references_;
};

// --- Writer -----------------------------------------------------------------

class Writer {
public:
    explicit Writer(TComponent* root) : root_(root) {}

    std::string run() {
        write_object(root_, 0);
        return std::move(out_);
    }

private:
    void indent(int level) { out_.append(static_cast<size_t>(level) * 2, ' '); }

    void write_object(TComponent* c, int level) {
        // A component listed twice (or its own child) is written once.
        if (!seen_.insert(c).second || level > kMaxObjectDepth) return;
        indent(level);
        out_ += "object ";
        if (!c->Name().empty()) out_ += c->Name() + ": ";
        out_ += c->ClassName();
        out_ += '\n';
        write_props(c, "", level + 1, 0);
        c->GetChildren([&](TComponent* child) { if (child) write_object(child, level + 1); }, root_);
        indent(level);
        out_ += "end\n";
    }

    void line(int level, const std::string& name, const std::string& value) {
        indent(level);
        out_ += name + " = " + value + '\n';
    }

    void write_props(TPersistent* obj, const std::string& prefix, int level, int depth) {
        for (const PropInfo* p : obj->GetClassInfo()->props) {
            if (depth == 0 && SameText(p->name, "Name")) continue;  // in the object line
            const std::string name = prefix + p->name;
            switch (p->kind) {
            case PropKind::Integer: {
                if (!p->get_ord) break;
                // 32 bits whatever the getter's type: system colours are negative.
                const auto v = static_cast<int32_t>(static_cast<uint32_t>(p->get_ord(obj)));
                if (p->default_ord && static_cast<int32_t>(static_cast<uint32_t>(*p->default_ord)) == v) break;
                std::string ident = IdentOf(p->type, v);
                line(level, name, ident.empty() ? std::to_string(v) : ident);
                break;
            }
            case PropKind::Boolean: {
                if (!p->get_ord) break;
                const bool v = p->get_ord(obj) != 0;
                if (p->default_ord && (*p->default_ord != 0) == v) break;
                line(level, name, v ? "True" : "False");
                break;
            }
            case PropKind::Enum: {
                if (!p->get_ord) break;
                const int64_t v = p->get_ord(obj);
                if (p->default_ord && *p->default_ord == v) break;
                std::string ident = v >= INT32_MIN && v <= INT32_MAX ? IdentOf(p->type, static_cast<int32_t>(v)) : "";
                line(level, name, ident.empty() ? std::to_string(v) : ident);
                break;
            }
            case PropKind::Set: {
                if (!p->get_ord) break;
                const int64_t v = p->get_ord(obj) & 0xFF;
                if (p->default_ord && (*p->default_ord & 0xFF) == v) break;
                std::string members;
                for (int bit = 0; bit < 8; ++bit) {
                    if (!((v >> bit) & 1)) continue;
                    std::string ident = IdentOf(p->type, bit);
                    if (ident.empty()) continue;
                    if (!members.empty()) members += ", ";
                    members += ident;
                }
                line(level, name, "[" + members + "]");
                break;
            }
            case PropKind::String: {
                if (!p->get_str) break;
                const std::string v = p->get_str(obj);
                if (p->default_str ? v != p->default_str : !v.empty()) line(level, name, quote(v));
                break;
            }
            case PropKind::Class: {
                TPersistent* sub = p->get_obj ? p->get_obj(obj) : nullptr;
                if (!sub || depth + 1 >= kMaxPathDepth) break;
                write_props(sub, name + ".", level, depth + 1);
                if (sub->HasData()) {
                    const std::vector<uint8_t> bytes = sub->WriteData();
                    if (!bytes.empty()) write_data(level, name + ".Data", bytes);  // nothing to restore
                }
                break;
            }
            case PropKind::Component: {
                TComponent* c = p->get_comp ? p->get_comp(obj) : nullptr;
                // Only what the reader can find again by name: the form and what it owns.
                if (c && !c->Name().empty() && (c == root_ || c->Owner() == root_))
                    line(level, name, c->Name());
                break;
            }
            case PropKind::Event: {
                EventBase* e = p->get_event ? p->get_event(obj) : nullptr;
                // Only a handler of the root can be found again by name.
                if (e && e->Assigned() && !e->MethodName().empty() && e->Target() == root_)
                    line(level, name, e->MethodName());
                break;
            }
            }
        }
    }

    void write_data(int level, const std::string& name, const std::vector<uint8_t>& bytes) {
        static const char hex[] = "0123456789ABCDEF";
        indent(level);
        out_ += name + " = {";
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i % 32 == 0) {
                out_ += '\n';
                indent(level + 1);
            }
            out_ += hex[bytes[i] >> 4];
            out_ += hex[bytes[i] & 15];
        }
        out_ += "}\n";
    }

    static std::string quote(const std::string& s) {
        std::string out;
        bool open = false;
        for (char ch : s) {
            const auto b = static_cast<unsigned char>(ch);
            if (b >= 0x20 && b < 0x7F) {
                if (!open) out += '\'';
                open = true;
                out += ch;
                if (ch == '\'') out += '\'';
            } else {
                if (open) out += '\'';
                open = false;
                out += '#' + std::to_string(b);
            }
        }
        if (open) out += '\'';
        return out.empty() ? "''" : out;
    }

    TComponent* root_;
    std::string out_;
    std::set<const TComponent*> seen_;
};

std::map<std::string, std::string>& resources() {
    static std::map<std::string, std::string> map;
    return map;
}

}  // namespace

void ReadComponentFromText(std::string_view text, TComponent* root) {
    if (!root) throw EReadError("No component to read into");
    Reader reader(text, root);  // may already fail on the first token
    try {
        reader.run();
    } catch (...) {
        reader.undo();
        throw;
    }
}

std::string WriteComponentToText(TComponent* root) {
    if (!root) return {};
    root->SetState(csWriting, true);
    struct Clear {
        TComponent* c;
        ~Clear() { c->SetState(csWriting, false); }
    } clear{root};
    return Writer(root).run();
}

void RegisterFormResource(std::string name, std::string text) {
    resources()[upper(name)] = std::move(text);
}

const std::string* FindFormResource(std::string_view name) {
    auto it = resources().find(upper(name));
    return it == resources().end() ? nullptr : &it->second;
}

bool InitInheritedComponent(TComponent* root) {
    if (!root) return false;
    const std::string* text = FindFormResource(root->ClassName());
    if (!text) return false;
    ReadComponentFromText(*text, root);
    return true;
}
