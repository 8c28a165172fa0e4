#include "fake_rc.h"

#include <cstdlib>

namespace fake {
namespace internal {
namespace {

// The system classes a template may name by ordinal.
std::string ClassOfOrdinal(long ordinal) {
    switch (ordinal) {
        case 0x80: return "Button";
        case 0x81: return "Edit";
        case 0x82: return "Static";
        case 0x83: return "ListBox";
        case 0x84: return "ScrollBar";
        case 0x85: return "ComboBox";
    }
    return "#" + std::to_string(ordinal);
}

struct Token {
    enum Kind { kWord, kNumber, kString, kPunct, kEnd } kind;
    std::string text;
    long number = 0;
    int line = 0;
};

const std::map<std::string, DWORD>& StyleNames() {
    static const std::map<std::string, DWORD> names = {
        {"WS_OVERLAPPED", WS_OVERLAPPED}, {"WS_POPUP", WS_POPUP}, {"WS_CHILD", WS_CHILD},
        {"WS_VISIBLE", WS_VISIBLE},       {"WS_DISABLED", WS_DISABLED},
        {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS}, {"WS_CAPTION", WS_CAPTION},
        {"WS_BORDER", WS_BORDER},         {"WS_DLGFRAME", WS_DLGFRAME},
        {"WS_SYSMENU", WS_SYSMENU},       {"WS_THICKFRAME", WS_THICKFRAME},
        {"WS_GROUP", WS_GROUP},           {"WS_TABSTOP", WS_TABSTOP},
        {"WS_MINIMIZEBOX", WS_MINIMIZEBOX}, {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
        {"WS_OVERLAPPEDWINDOW", WS_OVERLAPPEDWINDOW},
        {"WS_EX_TOPMOST", WS_EX_TOPMOST}, {"WS_EX_STATICEDGE", WS_EX_STATICEDGE},
        {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE},
        {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_SETFONT", DS_SETFONT}, {"DS_CENTER", DS_CENTER},
        {"DS_3DLOOK", DS_3DLOOK},
        {"BS_PUSHBUTTON", BS_PUSHBUTTON}, {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
        {"BS_CHECKBOX", BS_CHECKBOX},     {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX},
        {"BS_RADIOBUTTON", BS_RADIOBUTTON}, {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
        {"BS_GROUPBOX", BS_GROUPBOX},
        {"SS_LEFT", SS_LEFT},             {"SS_CENTER", SS_CENTER}, {"SS_RIGHT", SS_RIGHT},
        {"SS_ICON", SS_ICON},             {"SS_BLACKRECT", SS_BLACKRECT},
        {"SS_GRAYRECT", SS_GRAYRECT},     {"SS_WHITERECT", SS_WHITERECT},
        {"SS_BLACKFRAME", SS_BLACKFRAME}, {"SS_GRAYFRAME", SS_GRAYFRAME},
        {"SS_WHITEFRAME", SS_WHITEFRAME}, {"SS_ETCHEDHORZ", SS_ETCHEDHORZ},
        {"SS_ETCHEDFRAME", SS_ETCHEDFRAME}, {"SS_BITMAP", SS_BITMAP},
        {"SS_NOPREFIX", SS_NOPREFIX},     {"SS_CENTERIMAGE", SS_CENTERIMAGE},
        {"SS_REALSIZEIMAGE", SS_REALSIZEIMAGE}, {"SS_SUNKEN", SS_SUNKEN},
        {"ES_LEFT", ES_LEFT}, {"ES_MULTILINE", ES_MULTILINE},
        {"ES_AUTOVSCROLL", ES_AUTOVSCROLL}, {"ES_AUTOHSCROLL", ES_AUTOHSCROLL},
        {"ES_READONLY", ES_READONLY}, {"WS_VSCROLL", WS_VSCROLL}, {"WS_HSCROLL", WS_HSCROLL},
        {"IDOK", IDOK}, {"IDCANCEL", IDCANCEL},
    };
    return names;
}

class Lexer {
   public:
    explicit Lexer(const std::string& text) : text_(text) {}

    std::vector<Token> All() {
        std::vector<Token> tokens;
        for (;;) {
            Token t = Next();
            tokens.push_back(t);
            if (t.kind == Token::kEnd) return tokens;
        }
    }

   private:
    Token Next() {
        SkipSpaceAndComments();
        Token t;
        t.line = line_;
        if (pos_ >= text_.size()) {
            t.kind = Token::kEnd;
            return t;
        }
        char c = text_[pos_];
        if (c == '"') {
            t.kind = Token::kString;
            t.text = ReadString();
        } else if (isdigit((unsigned char)c) ||
                   (c == '-' && pos_ + 1 < text_.size() && isdigit((unsigned char)text_[pos_ + 1]))) {
            size_t start = pos_++;
            while (pos_ < text_.size() && isalnum((unsigned char)text_[pos_])) ++pos_;
            t.kind = Token::kNumber;
            t.text = text_.substr(start, pos_ - start);
            t.number = strtol(t.text.c_str(), nullptr, 0);
        } else if (isalpha((unsigned char)c) || c == '_' || c == '#') {
            size_t start = pos_++;
            while (pos_ < text_.size() &&
                   (isalnum((unsigned char)text_[pos_]) || text_[pos_] == '_' || text_[pos_] == '.'))
                ++pos_;
            t.kind = Token::kWord;
            t.text = text_.substr(start, pos_ - start);
        } else {
            t.kind = Token::kPunct;
            t.text = std::string(1, c);
            ++pos_;
        }
        return t;
    }

    void SkipSpaceAndComments() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (isspace((unsigned char)c)) {
                ++pos_;
            } else if (text_.compare(pos_, 2, "//") == 0) {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (text_.compare(pos_, 2, "/*") == 0) {
                size_t end = text_.find("*/", pos_ + 2);
                for (size_t i = pos_; i < end && i < text_.size(); ++i)
                    if (text_[i] == '\n') ++line_;
                pos_ = end == std::string::npos ? text_.size() : end + 2;
            } else {
                return;
            }
        }
    }

    std::string ReadString() {
        std::string out;
        ++pos_;  // opening quote
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {  // "" is a quote
                    out += '"';
                    ++pos_;
                    continue;
                }
                return out;
            }
            if (c == '\\' && pos_ < text_.size()) {
                char e = text_[pos_++];
                out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                continue;
            }
            if (c == '\n') ++line_;
            out += c;
        }
        return out;
    }

    const std::string& text_;
    size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
   public:
    Parser(std::vector<Token> tokens, std::map<std::string, long> defines)
        : tokens_(std::move(tokens)), defines_(std::move(defines)) {}

    bool Run(std::map<int, DialogTemplate>* dialogs, std::string* error) {
        while (Peek().kind != Token::kEnd) {
            // Preprocessor lines are skipped: they only include headers.
            if (Peek().kind == Token::kWord && Peek().text[0] == '#') {
                int line = Peek().line;
                while (Peek().kind != Token::kEnd && Peek().line == line) ++pos_;
                continue;
            }
            if (pos_ + 1 < tokens_.size() && tokens_[pos_ + 1].kind == Token::kWord &&
                (tokens_[pos_ + 1].text == "DIALOG" || tokens_[pos_ + 1].text == "DIALOGEX")) {
                DialogTemplate d;
                if (!ParseDialog(&d)) {
                    *error = error_;
                    return false;
                }
                (*dialogs)[d.id] = d;
                continue;
            }
            // Any other resource statement lies on one line.
            int line = Peek().line;
            while (Peek().kind != Token::kEnd && Peek().line == line) ++pos_;
        }
        return true;
    }

   private:
    const Token& Peek() const { return tokens_[pos_]; }
    Token Take() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
    bool Fail(const std::string& what) {
        error_ = "line " + std::to_string(Peek().line) + ": " + what + " near '" + Peek().text + "'";
        return false;
    }
    bool IsPunct(const char* p) const { return Peek().kind == Token::kPunct && Peek().text == p; }
    bool IsWord(const char* w) const { return Peek().kind == Token::kWord && Peek().text == w; }
    void SkipComma() {
        if (IsPunct(",")) ++pos_;
    }

    bool Value(long* out) {
        Token t = Take();
        if (t.kind == Token::kNumber) {
            *out = t.number;
            return true;
        }
        if (t.kind == Token::kWord) {
            auto d = defines_.find(t.text);
            if (d != defines_.end()) {
                *out = d->second;
                return true;
            }
            auto s = StyleNames().find(t.text);
            if (s != StyleNames().end()) {
                *out = (long)s->second;
                return true;
            }
        }
        --pos_;
        return Fail("unknown name");
    }

    // a | b | NOT c ...
    bool Expression(DWORD* out, DWORD start = 0) {
        DWORD value = start;
        for (;;) {
            bool negate = false;
            if (IsWord("NOT")) {
                negate = true;
                ++pos_;
            }
            long term;
            if (!Value(&term)) return false;
            value = negate ? (value & ~(DWORD)term) : (value | (DWORD)term);
            if (!IsPunct("|")) break;
            ++pos_;
        }
        *out = value;
        return true;
    }

    bool Number(int* out) {
        long v;
        if (!Value(&v)) return false;
        *out = (int)v;
        return true;
    }

    bool ParseDialog(DialogTemplate* d) {
        long id;
        if (!Value(&id)) return false;
        d->id = (int)id;
        ++pos_;  // DIALOG or DIALOGEX
        if (!Number(&d->x)) return false;
        SkipComma();
        if (!Number(&d->y)) return false;
        SkipComma();
        if (!Number(&d->width)) return false;
        SkipComma();
        if (!Number(&d->height)) return false;
        d->style = WS_POPUP | WS_BORDER | WS_SYSMENU;
        while (!IsWord("BEGIN") && !IsPunct("{")) {
            if (Peek().kind == Token::kEnd) return Fail("missing BEGIN");
            std::string word = Take().text;
            if (word == "STYLE") {
                if (!Expression(&d->style)) return false;
            } else if (word == "EXSTYLE") {
                if (!Expression(&d->exStyle)) return false;
            } else if (word == "CAPTION") {
                d->caption = Take().text;
            } else if (word == "FONT") {
                if (!Number(&d->fontSize)) return false;
                SkipComma();
                d->fontName = Take().text;
                while (IsPunct(",")) {  // DIALOGEX weight, italic, charset
                    ++pos_;
                    ++pos_;
                }
            } else {
                --pos_;
                return Fail("unsupported dialog statement");
            }
        }
        ++pos_;
        while (!IsWord("END") && !IsPunct("}")) {
            if (!IsWord("CONTROL")) return Fail("only CONTROL statements are understood");
            ++pos_;
            ControlTemplate c;
            Token text = Take();
            if (text.kind == Token::kString) {
                c.text = text.text;
            } else {
                --pos_;
                long n;
                if (!Value(&n)) return false;
                c.text = "#" + std::to_string(n);
            }
            SkipComma();
            if (!Number(&c.id)) return false;
            SkipComma();
            Token cls = Take();
            if (cls.kind == Token::kString) {
                c.className = cls.text;
            } else {
                --pos_;
                long ordinal;
                if (!Value(&ordinal)) return false;
                c.className = ClassOfOrdinal(ordinal);
            }
            SkipComma();
            if (!Expression(&c.style, WS_CHILD | WS_VISIBLE)) return false;
            SkipComma();
            if (!Number(&c.x)) return false;
            SkipComma();
            if (!Number(&c.y)) return false;
            SkipComma();
            if (!Number(&c.width)) return false;
            SkipComma();
            if (!Number(&c.height)) return false;
            if (IsPunct(",")) {
                ++pos_;
                if (!Expression(&c.exStyle)) return false;
            }
            d->controls.push_back(c);
        }
        ++pos_;
        return true;
    }

    std::vector<Token> tokens_;
    std::map<std::string, long> defines_;
    size_t pos_ = 0;
    std::string error_;
};

std::map<std::string, long> ParseDefines(const std::string& header) {
    std::map<std::string, long> defines;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find('\n', pos);
        if (end == std::string::npos) end = header.size();
        std::string line = header.substr(pos, end - pos);
        pos = end + 1;
        char name[128];
        char value[128];
        if (sscanf(line.c_str(), " #define %127s %127s", name, value) == 2) {
            std::string v = value;
            while (!v.empty() && (v[0] == '(')) v.erase(0, 1);
            char* stop = nullptr;
            long n = strtol(v.c_str(), &stop, 0);
            if (stop != v.c_str()) defines[name] = n;
        }
    }
    return defines;
}

}  // namespace

bool ParseResourceScript(const std::string& rcText, const std::string& headerText,
                         std::map<int, DialogTemplate>* dialogs, std::string* error) {
    Lexer lexer(rcText);
    Parser parser(lexer.All(), ParseDefines(headerText));
    return parser.Run(dialogs, error);
}

}  // namespace internal
}  // namespace fake
