#include "cardsim/program.h"

#include <set>

#include "cardsim/lexer.h"

namespace zimo::cardsim {

std::string_view StripComment(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return line.substr(0, i);
  }
  return line;
}

namespace {

// The text inside the parenthesis that starts the scanner's rest, and the
// scanner moved past its closing parenthesis; false when it is not closed.
bool TakeParenthesised(Scanner& s, std::string* inside) {
  if (s.Peek() != '(') return false;
  std::string_view rest = s.Rest();
  int depth = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '(') ++depth;
    if (rest[i] == ')' && --depth == 0) {
      inside->assign(rest.substr(1, i - 1));
      s.Reset(s.pos() + i + 1);
      return true;
    }
  }
  return false;
}

// Takes as many letters of `tail` as follow, in order (the optional end of
// a keyword such as END[ ]W[HILE]).
void AcceptTail(Scanner& s, std::string_view tail) {
  for (char c : tail) {
    if (s.PeekRaw(0) != c) return;
    s.Take();
  }
}

class Compiler {
 public:
  CompiledProgram Run(const std::vector<std::string>& lines) {
    for (size_t n = 0; n < lines.size() && out_.well_formed; ++n) Line(lines[n], n);
    if (!open_.empty()) out_.well_formed = false;
    return std::move(out_);
  }

 private:
  void Add(Statement::Kind kind, std::string text, size_t line) {
    Statement st;
    st.kind = kind;
    st.text = std::move(text);
    st.line = line;
    out_.statements.push_back(std::move(st));
  }
  size_t Last() const { return out_.statements.size() - 1; }

  void Open(Statement::Kind kind, std::string condition, size_t line) {
    if (open_.size() >= kMaxProgramNesting) {
      out_.well_formed = false;
      return;
    }
    Add(kind, std::move(condition), line);
    open_.push_back(Last());
  }

  void Else(size_t line) {
    if (open_.empty() || out_.statements[open_.back()].kind != Statement::Kind::kIf ||
        has_else_.count(open_.back()) != 0) {
      out_.well_formed = false;
      return;
    }
    Add(Statement::Kind::kElse, {}, line);
    out_.statements[open_.back()].jump = Last();
    has_else_.insert(open_.back());
    open_.back() = Last();  // ENDIF now closes the ELSE
  }

  void EndIf(size_t line) {
    if (open_.empty()) {
      out_.well_formed = false;
      return;
    }
    Statement::Kind k = out_.statements[open_.back()].kind;
    if (k != Statement::Kind::kIf && k != Statement::Kind::kElse) {
      out_.well_formed = false;
      return;
    }
    Add(Statement::Kind::kEndIf, {}, line);
    // An IF without ELSE jumps past its ENDIF when false; an ELSE part ends there too.
    out_.statements[open_.back()].jump = Last();
    open_.pop_back();
  }

  void EndWhile(size_t line) {
    if (open_.empty() || out_.statements[open_.back()].kind != Statement::Kind::kWhile) {
      out_.well_formed = false;
      return;
    }
    Add(Statement::Kind::kEndWhile, {}, line);
    out_.statements[Last()].jump = open_.back();
    out_.statements[open_.back()].jump = Last();
    open_.pop_back();
  }

  void Line(const std::string& text, size_t n) {
    Scanner s(StripComment(text));
    bool first = true;
    while (!s.AtEnd() && out_.well_formed) {
      // "AND (...)" and "OR (...)" lines continue the condition of an IF or
      // WHILE on the line before.
      if (first && !out_.statements.empty() && open_.size() > 0 && open_.back() == Last() &&
          (out_.statements[Last()].kind == Statement::Kind::kIf ||
           out_.statements[Last()].kind == Statement::Kind::kWhile)) {
        for (std::string_view word : {"AND", "OR"}) {
          size_t at = s.pos();
          std::string cond;
          if (s.AcceptWord(word) && TakeParenthesised(s, &cond)) {
            std::string& c = out_.statements[Last()].text;
            c = "(" + c + ")" + std::string(word) + "(" + cond + ")";
            word = {};
            break;
          }
          s.Reset(at);
        }
      }
      first = false;
      if (s.AtEnd()) break;
      if (s.AcceptWord("ENDW")) {
        AcceptTail(s, "HILE");  // ENDW, ENDWH, ... ENDWHILE
        EndWhile(n);
      } else if (s.AcceptWord("ENDI")) {
        AcceptTail(s, "F");
        EndIf(n);
      } else if (s.AcceptWord("ELSE")) {
        Else(n);
      } else if (s.AcceptWord("IF")) {
        Conditional(s, n, true);
      } else if (s.AcceptWord("WHILE")) {
        Conditional(s, n, false);
      } else if (s.AcceptWord("COMMAND") || s.AcceptWord("CMD") || s.AcceptWord("CD")) {
        Command(s, n);
      } else {
        Add(Statement::Kind::kPlain, std::string(s.Rest()), n);
        break;
      }
    }
    for (; !one_line_.empty() && out_.well_formed; one_line_.pop_back()) {
      if (one_line_.back()) {
        EndIf(n);
      } else {
        EndWhile(n);
      }
    }
    one_line_.clear();
  }

  void Conditional(Scanner& s, size_t n, bool is_if) {
    std::string cond;
    if (!TakeParenthesised(s, &cond)) {
      out_.well_formed = false;
      return;
    }
    Open(is_if ? Statement::Kind::kIf : Statement::Kind::kWhile, std::move(cond), n);
    if (s.AtEnd() || !out_.well_formed) return;
    // Something after the condition on the same line is the whole body of a
    // one-line IF or WHILE, which needs no ENDIF or ENDWHILE.
    one_line_.push_back(is_if);
  }

  void Command(Scanner& s, size_t n) {
    if (s.Accept('"')) {
      std::string_view rest = s.Rest();
      size_t end = rest.find('"');
      if (end == std::string_view::npos) {
        out_.well_formed = false;
        return;
      }
      Add(Statement::Kind::kCommand, std::string(rest.substr(0, end)), n);
      s.Reset(s.pos() + end + 1);
      return;
    }
    if (s.Accept('^')) {  // a control character: ^K is CTRL-K
      char c = s.Take();
      if (c < '@' || c > '_') {
        out_.well_formed = false;
        return;
      }
      Add(Statement::Kind::kCommand, std::string(1, static_cast<char>(c - '@')), n);
      return;
    }
    out_.well_formed = false;
  }

  CompiledProgram out_;
  std::vector<size_t> open_;  // statements of the open blocks
  std::set<size_t> has_else_;
  std::vector<bool> one_line_;  // one-line IF (true) or WHILE blocks of the current line
};

}  // namespace

CompiledProgram CompileProgram(const std::vector<std::string>& lines) {
  return Compiler().Run(lines);
}

}  // namespace zimo::cardsim
