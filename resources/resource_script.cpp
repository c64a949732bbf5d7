#include "resources/resource_script.h"

#include <cctype>
#include <cstdlib>

#include "platform/ui_port.h"

namespace lumivo {

namespace {

// The style names the script uses, with the platform's values.
const std::map<std::string, std::uint32_t>& StyleNames() {
#define LUMIVO_STYLE(name) {#name, name}
    static const std::map<std::string, std::uint32_t> names = {
        LUMIVO_STYLE(WS_POPUP),         LUMIVO_STYLE(WS_CHILD),
        LUMIVO_STYLE(WS_VISIBLE),       LUMIVO_STYLE(WS_DISABLED),
        LUMIVO_STYLE(WS_CAPTION),       LUMIVO_STYLE(WS_BORDER),
        LUMIVO_STYLE(WS_SYSMENU),       LUMIVO_STYLE(WS_GROUP),
        LUMIVO_STYLE(WS_TABSTOP),       LUMIVO_STYLE(WS_EX_APPWINDOW),
        LUMIVO_STYLE(WS_EX_CAPTIONOKBTN), LUMIVO_STYLE(DS_SETFONT),
        LUMIVO_STYLE(DS_SETFOREGROUND), LUMIVO_STYLE(DS_CENTER),
        LUMIVO_STYLE(ES_LEFT),          LUMIVO_STYLE(ES_PASSWORD),
        LUMIVO_STYLE(ES_AUTOHSCROLL),   LUMIVO_STYLE(ES_READONLY),
        LUMIVO_STYLE(BS_PUSHBUTTON),    LUMIVO_STYLE(BS_AUTOCHECKBOX),
        LUMIVO_STYLE(BS_GROUPBOX),      LUMIVO_STYLE(SS_LEFT),
        LUMIVO_STYLE(SS_ICON),          LUMIVO_STYLE(SS_BITMAP),
    };
#undef LUMIVO_STYLE
    return names;
}

enum class TokenKind { End, Number, Name, String, Punct };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;
    std::uint32_t number = 0;
    int line = 0;
};

using Names = std::map<std::string, std::uint32_t>;

class Lexer {
  public:
    Lexer(const std::string& text, const std::map<std::string, std::string>& includes,
          Names& names)
        : text_(text), includes_(includes), names_(names) {}

    // Splits the whole text; false with `error` set on a malformed token.
    bool Split(std::vector<Token>& tokens, std::string& error) {
        bool lineStart = true;
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                lineStart = true;
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
                continue;
            }
            if (lineStart && c == '#') {
                if (!Directive(tokens, error)) return false;
                continue;
            }
            lineStart = false;
            if (text_.compare(pos_, 2, "//") == 0) {
                SkipLine();
                continue;
            }
            if (text_.compare(pos_, 2, "/*") == 0) {
                std::size_t close = text_.find("*/", pos_ + 2);
                if (close == std::string::npos) return Fail(error, "unterminated comment");
                for (std::size_t i = pos_; i < close; ++i) line_ += text_[i] == '\n';
                pos_ = close + 2;
                continue;
            }
            Token token;
            token.line = line_;
            if (c == '"') {
                token.kind = TokenKind::String;
                if (!ReadString(token.text)) return Fail(error, "unterminated string");
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                token.kind = TokenKind::Number;
                const char* start = text_.c_str() + pos_;
                char* stop = nullptr;
                token.number = static_cast<std::uint32_t>(std::strtoul(start, &stop, 0));
                pos_ += static_cast<std::size_t>(stop - start);
                while (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'U' ||
                                               text_[pos_] == 'l' || text_[pos_] == 'u')) {
                    ++pos_;
                }
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                token.kind = TokenKind::Name;
                token.text = Word();
                auto named = names_.find(token.text);
                if (named != names_.end()) {  // a name from a #define stands for its number
                    token.kind = TokenKind::Number;
                    token.number = named->second;
                }
            } else if (c == ',' || c == '|') {
                token.kind = TokenKind::Punct;
                token.text = std::string(1, c);
                ++pos_;
            } else {
                return Fail(error, std::string("unexpected character '") + c + "'");
            }
            tokens.push_back(token);
        }
        return true;
    }

  private:
    std::string Word() {
        std::string word;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
            word += text_[pos_++];
        }
        return word;
    }
    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }

    // The preprocessor lines the reader needs: "#define NAME NUMBER" and
    // '#include "file"' of a header it was given. The others (system
    // headers, conditions) are the compiler's business.
    bool Directive(std::vector<Token>& tokens, std::string& error) {
        ++pos_;  // '#'
        SkipBlanks();
        const std::string directive = Word();
        SkipBlanks();
        if (directive == "define") {
            const std::string name = Word();
            SkipBlanks();
            if (!name.empty() && pos_ < text_.size() &&
                std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
                names_[name] = static_cast<std::uint32_t>(std::strtoul(&text_[pos_], nullptr, 0));
            }
        } else if (directive == "include" && pos_ < text_.size() && text_[pos_] == '"') {
            const std::size_t close = text_.find('"', pos_ + 1);
            const std::string file =
                close == std::string::npos ? "" : text_.substr(pos_ + 1, close - pos_ - 1);
            auto header = includes_.find(file);
            if (header != includes_.end()) {
                ++depth_;
                if (depth_ > 8) return Fail(error, "headers include each other");
                Lexer inner(header->second, includes_, names_);
                inner.depth_ = depth_;
                inner.file_ = file;
                if (!inner.Split(tokens, error)) return false;
                --depth_;
            }
        }
        SkipLine();
        return true;
    }

    void SkipLine() {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    }

    bool ReadString(std::string& out) {
        ++pos_;  // opening quote
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {  // "" stands for one quote
                    out += '"';
                    ++pos_;
                    continue;
                }
                return true;
            }
            if (c == '\\' && pos_ < text_.size()) {
                char next = text_[pos_++];
                out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
                continue;
            }
            if (c == '\n') return false;
            out += c;
        }
        return false;
    }

    bool Fail(std::string& error, const std::string& what) {
        error = (file_.empty() ? "" : file_ + ": ") + "line " + std::to_string(line_) + ": " + what;
        return false;
    }

    const std::string& text_;
    const std::map<std::string, std::string>& includes_;
    Names& names_;
    std::size_t pos_ = 0;
    int line_ = 1;
    int depth_ = 0;
    std::string file_;  // the header being read; empty for the script

  public:
    int Line() const { return line_; }
};

class Parser {
  public:
    Parser(const std::vector<Token>& tokens, std::string& error) : tokens_(tokens), error_(error) {}

    bool Script(ResourceScript& out) {
        while (Peek().kind != TokenKind::End) {
            if (IsName("LANGUAGE")) {
                Next();
                std::uint32_t ignored = 0;
                if (!Number(ignored) || !Comma() || !Number(ignored)) return false;
                continue;
            }
            std::uint32_t id = 0;
            if (!Number(id)) return false;
            const Token type = Next();
            if (type.kind == TokenKind::Name && type.text == "DIALOGEX") {
                DialogTemplate dialog;
                dialog.id = static_cast<int>(id);
                if (!Dialog(dialog)) return false;
                out.dialogs.push_back(dialog);
            } else if (type.kind == TokenKind::Name &&
                       (type.text == "ICON" || type.text == "BITMAP")) {
                SkipMemoryFlags();
                std::string file;
                if (!String(file)) return false;
                (type.text == "ICON" ? out.icons : out.bitmaps)[static_cast<int>(id)] = file;
            } else if (type.kind == TokenKind::Number) {
                // A resource of raw data, as a compiler's listing writes it.
                if (!SkipRawResource()) return false;
            } else {
                return Fail(type, "unknown resource type '" + type.text + "'");
            }
        }
        return true;
    }

  private:
    bool Dialog(DialogTemplate& dialog) {
        SkipMemoryFlags();
        std::uint32_t v[4] = {};
        if (!Number(v[0]) || !Comma() || !Number(v[1]) || !Comma() || !Number(v[2]) || !Comma() ||
            !Number(v[3])) {
            return false;
        }
        dialog.x = static_cast<int>(v[0]);
        dialog.y = static_cast<int>(v[1]);
        dialog.width = static_cast<int>(v[2]);
        dialog.height = static_cast<int>(v[3]);
        while (!IsName("BEGIN")) {
            const Token option = Next();
            if (option.kind != TokenKind::Name) return Fail(option, "expected BEGIN");
            bool ok = true;
            if (option.text == "STYLE") {
                ok = Expression(dialog.style);
            } else if (option.text == "EXSTYLE") {
                ok = Expression(dialog.exStyle);
            } else if (option.text == "CAPTION") {
                ok = String(dialog.caption);
            } else if (option.text == "FONT") {
                std::uint32_t size = 0;
                ok = Number(size) && Comma() && String(dialog.fontFace);
                dialog.fontSize = static_cast<int>(size);
                std::uint32_t ignored = 0;
                while (ok && IsPunct(","))
                    ok = Comma() && Number(ignored);  // weight, italic, charset
            } else {
                return Fail(option, "unknown dialog option '" + option.text + "'");
            }
            if (!ok) return false;
        }
        Next();  // BEGIN
        while (!IsName("END")) {
            ControlTemplate control;
            if (!Control(control)) return false;
            dialog.controls.push_back(control);
        }
        Next();  // END
        return true;
    }

    // CONTROL text, id, class, style, x, y, width, height [, extended style]
    bool Control(ControlTemplate& control) {
        const Token keyword = Next();
        if (keyword.kind != TokenKind::Name || keyword.text != "CONTROL") {
            return Fail(keyword, "expected CONTROL or END");
        }
        if (Peek().kind == TokenKind::Number) {
            std::uint32_t image = 0;
            Number(image);
            control.imageResource = static_cast<int>(image);
        } else if (!String(control.text)) {
            return false;
        }
        std::uint32_t id = 0;
        std::uint32_t v[4] = {};
        if (!Comma() || !Number(id) || !Comma() || !String(control.className) || !Comma() ||
            !Expression(control.style) || !Comma() || !Number(v[0]) || !Comma() || !Number(v[1]) ||
            !Comma() || !Number(v[2]) || !Comma() || !Number(v[3])) {
            return false;
        }
        if (IsPunct(",") && (!Comma() || !Expression(control.exStyle))) return false;
        control.id = static_cast<int>(id);
        control.x = static_cast<int>(v[0]);
        control.y = static_cast<int>(v[1]);
        control.width = static_cast<int>(v[2]);
        control.height = static_cast<int>(v[3]);
        return true;
    }

    // Names and numbers joined by '|'.
    bool Expression(std::uint32_t& value) {
        value = 0;
        do {
            const Token term = Next();
            if (term.kind == TokenKind::Number) {
                value |= term.number;
            } else if (term.kind == TokenKind::Name) {
                auto found = StyleNames().find(term.text);
                if (found == StyleNames().end()) return Fail(term, "unknown style " + term.text);
                value |= found->second;
            } else {
                return Fail(term, "expected a style");
            }
        } while (IsPunct("|") && (Next(), true));
        return true;
    }

    void SkipMemoryFlags() {
        while (IsName("MOVEABLE") || IsName("PURE") || IsName("DISCARDABLE") || IsName("FIXED") ||
               IsName("IMPURE") || IsName("PRELOAD") || IsName("LOADONCALL")) {
            Next();
        }
    }

    bool SkipRawResource() {
        SkipMemoryFlags();
        if (Peek().kind == TokenKind::String) {
            Next();
            return true;
        }
        if (!IsName("BEGIN")) return Fail(Peek(), "expected BEGIN");
        while (!IsName("END")) {
            if (Next().kind == TokenKind::End) return Fail(Peek(), "missing END");
        }
        Next();
        return true;
    }

    bool Number(std::uint32_t& value) {
        const Token token = Next();
        if (token.kind != TokenKind::Number) return Fail(token, "expected a number");
        value = token.number;
        return true;
    }
    bool String(std::string& value) {
        const Token token = Next();
        if (token.kind != TokenKind::String) return Fail(token, "expected a string");
        value = token.text;
        return true;
    }
    bool Comma() {
        const Token token = Next();
        return token.kind == TokenKind::Punct && token.text == "," ? true
                                                                   : Fail(token, "expected ','");
    }

    const Token& Peek() const { return tokens_[pos_]; }
    Token Next() { return pos_ + 1 < tokens_.size() ? tokens_[pos_++] : tokens_[pos_]; }
    bool IsName(const char* name) const {
        return Peek().kind == TokenKind::Name && Peek().text == name;
    }
    bool IsPunct(const char* punct) const {
        return Peek().kind == TokenKind::Punct && Peek().text == punct;
    }
    bool Fail(const Token& at, const std::string& what) {
        error_ = "line " + std::to_string(at.line) + ": " + what;
        return false;
    }

    const std::vector<Token>& tokens_;
    std::size_t pos_ = 0;
    std::string& error_;
};

}  // namespace

const DialogTemplate* ResourceScript::FindDialog(int id) const {
    for (const DialogTemplate& dialog : dialogs) {
        if (dialog.id == id) return &dialog;
    }
    return nullptr;
}

bool ParseResourceScript(const std::string& text, ResourceScript& out, std::string& error,
                         const std::map<std::string, std::string>& includes) {
    out = ResourceScript();
    std::vector<Token> tokens;
    Names names;
    Lexer lexer(text, includes, names);
    if (!lexer.Split(tokens, error)) return false;
    Token end;
    end.line = lexer.Line();
    tokens.push_back(end);
    return Parser(tokens, error).Script(out);
}

}  // namespace lumivo
