// The selection path evaluator: a tokenizer, a recursive-descent parser into a small tree, and
// an evaluator over our DOM tree with XPath 1.0 value rules.
#include "platform/xml/xpath.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/win/text.h"

namespace vkr::xml {

namespace {

constexpr int kMaxNesting = 64;  // parentheses, predicates and operators, against deep recursion

enum class Tok {
  Name,       // a name, "prefix:name" or "prefix:*"
  Star,       // *
  At,         // @
  Slash,      // /
  SlashSlash, // //
  Dot,        // .
  DotDot,     // ..
  LParen,
  RParen,
  LBracket,
  RBracket,
  Comma,
  ColonColon,
  Eq,
  Ne,
  Lt,
  Le,
  Gt,
  Ge,
  Pipe,
  Minus,
  Literal,
  Number,
  End,
};

struct Token {
  Tok kind;
  std::u16string text;
  double number = 0;
  std::size_t pos = 0;
};

bool IsNameStart(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0xC0;
}
bool IsNameChar(char16_t c) {
  return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7;
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

class Lexer {
 public:
  explicit Lexer(std::u16string_view s) : m_s(s) {}

  bool Run(std::vector<Token>* out, std::u16string* error) {
    std::size_t i = 0;
    while (true) {
      while (i < m_s.size() && IsXmlSpace(m_s[i])) ++i;
      Token t;
      t.pos = i;
      if (i >= m_s.size()) {
        t.kind = Tok::End;
        out->push_back(t);
        return true;
      }
      char16_t c = m_s[i];
      char16_t n = i + 1 < m_s.size() ? m_s[i + 1] : 0;
      auto one = [&](Tok k, std::size_t len) {
        t.kind = k;
        t.text.assign(m_s.substr(i, len));
        i += len;
      };
      if (c == u'/') one(n == u'/' ? Tok::SlashSlash : Tok::Slash, n == u'/' ? 2 : 1);
      else if (c == u'.' && n == u'.') one(Tok::DotDot, 2);
      else if (c == u'.' && !IsDigit(n)) one(Tok::Dot, 1);
      else if (c == u'*') one(Tok::Star, 1);
      else if (c == u'@') one(Tok::At, 1);
      else if (c == u'(') one(Tok::LParen, 1);
      else if (c == u')') one(Tok::RParen, 1);
      else if (c == u'[') one(Tok::LBracket, 1);
      else if (c == u']') one(Tok::RBracket, 1);
      else if (c == u',') one(Tok::Comma, 1);
      else if (c == u'|') one(Tok::Pipe, 1);
      else if (c == u'-') one(Tok::Minus, 1);
      else if (c == u':' && n == u':') one(Tok::ColonColon, 2);
      else if (c == u'=') one(Tok::Eq, 1);
      else if (c == u'!' && n == u'=') one(Tok::Ne, 2);
      else if (c == u'<') one(n == u'=' ? Tok::Le : Tok::Lt, n == u'=' ? 2 : 1);
      else if (c == u'>') one(n == u'=' ? Tok::Ge : Tok::Gt, n == u'=' ? 2 : 1);
      else if (c == u'"' || c == u'\'') {
        auto end = m_s.find(c, i + 1);
        if (end == std::u16string_view::npos) {
          *error = u"The string literal at position " + Utf8ToUtf16(std::to_string(i)) + u" is not closed.";
          return false;
        }
        t.kind = Tok::Literal;
        t.text.assign(m_s.substr(i + 1, end - i - 1));
        i = end + 1;
      } else if (IsDigit(c) || c == u'.') {
        std::size_t b = i;
        while (i < m_s.size() && IsDigit(m_s[i])) ++i;
        if (i < m_s.size() && m_s[i] == u'.') {
          ++i;
          while (i < m_s.size() && IsDigit(m_s[i])) ++i;
        }
        t.kind = Tok::Number;
        t.text.assign(m_s.substr(b, i - b));
        std::string a = Utf16ToUtf8(t.text);
        std::from_chars(a.data(), a.data() + a.size(), t.number);
        if (a == ".") t.number = std::nan("");
      } else if (IsNameStart(c)) {
        std::size_t b = i;
        while (i < m_s.size() && IsNameChar(m_s[i])) ++i;
        // "prefix:name" or "prefix:*", but not the axis separator "::".
        if (i + 1 < m_s.size() && m_s[i] == u':' && m_s[i + 1] != u':') {
          if (m_s[i + 1] == u'*') {
            i += 2;
          } else if (IsNameStart(m_s[i + 1])) {
            ++i;
            while (i < m_s.size() && IsNameChar(m_s[i])) ++i;
          }
        }
        t.kind = Tok::Name;
        t.text.assign(m_s.substr(b, i - b));
      } else {
        *error = u"Unexpected character '" + std::u16string(1, c) + u"' at position " +
                 Utf8ToUtf16(std::to_string(i)) + u".";
        return false;
      }
      out->push_back(std::move(t));
    }
  }

 private:
  std::u16string_view m_s;
};

enum class Axis {
  Child,
  Attribute,
  Self,
  Parent,
  Descendant,
  DescendantOrSelf,
  Ancestor,
  AncestorOrSelf,
  FollowingSibling,
  PrecedingSibling,
};

bool IsReverse(Axis a) {
  return a == Axis::Parent || a == Axis::Ancestor || a == Axis::AncestorOrSelf || a == Axis::PrecedingSibling;
}

enum class Test { Name, Any, PrefixAny, Text, AnyNode, Comment, PI };

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Step {
  Axis axis = Axis::Child;
  Test test = Test::AnyNode;
  std::u16string name;  // Name: the qualified name; PrefixAny: the prefix; PI: the target
  std::vector<ExprPtr> predicates;
};

enum class Op { Path, Literal, Number, Call, Or, And, Eq, Ne, Lt, Le, Gt, Ge, Neg, Union };

struct Expr {
  Op op;
  // Path
  bool absolute = false;
  std::vector<Step> steps;
  // Literal, Call (function name)
  std::u16string text;
  double number = 0;
  std::vector<ExprPtr> args;  // operands or call arguments
};

class Parser {
 public:
  Parser(std::vector<Token> tokens, std::u16string_view source) : m_t(std::move(tokens)), m_src(source) {}

  ExprPtr Parse(std::u16string* error) {
    ExprPtr e = Or();
    if (e && Peek().kind != Tok::End) Error(u"Unexpected '" + Peek().text + u"'");
    if (!m_error.empty()) {
      *error = m_error;
      return nullptr;
    }
    return e;
  }

 private:
  const Token& Peek(std::size_t ahead = 0) const { return m_t[std::min(m_i + ahead, m_t.size() - 1)]; }
  const Token& Next() { return m_t[std::min(m_i++, m_t.size() - 1)]; }
  bool Accept(Tok k) {
    if (Peek().kind != k) return false;
    ++m_i;
    return true;
  }
  ExprPtr Error(std::u16string what) {
    if (m_error.empty()) {
      const Token& t = Peek();
      m_error = what + u" at position " + Utf8ToUtf16(std::to_string(t.pos)) + u" in the path '" +
                std::u16string(m_src) + u"'.";
    }
    return nullptr;
  }
  bool Expect(Tok k, std::u16string_view what) {
    if (Accept(k)) return true;
    Error(u"Expected " + std::u16string(what) + (Peek().kind == Tok::End ? u" but the path ends" : u" but found '" + Peek().text + u"'"));
    return false;
  }

  struct Nest {
    explicit Nest(Parser* p) : p(p) { ++p->m_depth; }
    ~Nest() { --p->m_depth; }
    Parser* p;
  };

  static ExprPtr Binary(Op op, ExprPtr l, ExprPtr r) {
    auto e = std::make_unique<Expr>();
    e->op = op;
    e->args.push_back(std::move(l));
    e->args.push_back(std::move(r));
    return e;
  }

  bool IsWord(std::u16string_view w) const { return Peek().kind == Tok::Name && Peek().text == w; }

  ExprPtr Or() {
    Nest n(this);
    if (m_depth > kMaxNesting) return Error(u"The path is nested too deeply");
    ExprPtr l = And();
    while (l && IsWord(u"or")) {
      ++m_i;
      ExprPtr r = And();
      if (!r) return nullptr;
      l = Binary(Op::Or, std::move(l), std::move(r));
    }
    return l;
  }
  ExprPtr And() {
    ExprPtr l = Equality();
    while (l && IsWord(u"and")) {
      ++m_i;
      ExprPtr r = Equality();
      if (!r) return nullptr;
      l = Binary(Op::And, std::move(l), std::move(r));
    }
    return l;
  }
  ExprPtr Equality() {
    ExprPtr l = Relational();
    while (l && (Peek().kind == Tok::Eq || Peek().kind == Tok::Ne)) {
      Op op = Next().kind == Tok::Eq ? Op::Eq : Op::Ne;
      ExprPtr r = Relational();
      if (!r) return nullptr;
      l = Binary(op, std::move(l), std::move(r));
    }
    return l;
  }
  ExprPtr Relational() {
    ExprPtr l = Unary();
    for (;;) {
      Op op;
      switch (Peek().kind) {
        case Tok::Lt: op = Op::Lt; break;
        case Tok::Le: op = Op::Le; break;
        case Tok::Gt: op = Op::Gt; break;
        case Tok::Ge: op = Op::Ge; break;
        default: return l;
      }
      if (!l) return l;
      ++m_i;
      ExprPtr r = Unary();
      if (!r) return nullptr;
      l = Binary(op, std::move(l), std::move(r));
    }
  }
  ExprPtr Unary() {
    if (Accept(Tok::Minus)) {
      Nest n(this);
      if (m_depth > kMaxNesting) return Error(u"The path is nested too deeply");
      ExprPtr operand = Unary();
      if (!operand) return nullptr;
      auto e = std::make_unique<Expr>();
      e->op = Op::Neg;
      e->args.push_back(std::move(operand));
      return e;
    }
    ExprPtr l = PathExpr();
    while (l && Accept(Tok::Pipe)) {
      ExprPtr r = PathExpr();
      if (!r) return nullptr;
      l = Binary(Op::Union, std::move(l), std::move(r));
    }
    return l;
  }

  static bool IsNodeType(std::u16string_view n) {
    return n == u"text" || n == u"node" || n == u"comment" || n == u"processing-instruction";
  }

  ExprPtr PathExpr() {
    const Token& t = Peek();
    if (t.kind == Tok::Literal) {
      auto e = std::make_unique<Expr>();
      e->op = Op::Literal;
      e->text = Next().text;
      return e;
    }
    if (t.kind == Tok::Number) {
      auto e = std::make_unique<Expr>();
      e->op = Op::Number;
      e->number = Next().number;
      return e;
    }
    if (t.kind == Tok::LParen) {
      ++m_i;
      ExprPtr e = Or();
      if (!e || !Expect(Tok::RParen, u"')'")) return nullptr;
      return e;
    }
    if (t.kind == Tok::Name && Peek(1).kind == Tok::LParen && !IsNodeType(t.text)) return Call();
    return LocationPath();
  }

  ExprPtr Call() {
    auto e = std::make_unique<Expr>();
    e->op = Op::Call;
    e->text = Next().text;
    ++m_i;  // (
    if (!Accept(Tok::RParen)) {
      do {
        ExprPtr a = Or();
        if (!a) return nullptr;
        e->args.push_back(std::move(a));
      } while (Accept(Tok::Comma));
      if (!Expect(Tok::RParen, u"')'")) return nullptr;
    }
    static const std::pair<std::u16string_view, std::pair<int, int>> kFunctions[] = {
        {u"last", {0, 0}},   {u"position", {0, 0}},    {u"count", {1, 1}},       {u"not", {1, 1}},
        {u"true", {0, 0}},   {u"false", {0, 0}},       {u"string", {0, 1}},      {u"number", {0, 1}},
        {u"contains", {2, 2}}, {u"starts-with", {2, 2}}, {u"name", {0, 1}},     {u"local-name", {0, 1}},
    };
    for (const auto& [name, arity] : kFunctions) {
      if (name != e->text) continue;
      int n = static_cast<int>(e->args.size());
      if (n < arity.first || n > arity.second)
        return Error(u"The function " + e->text + u"() takes " + Utf8ToUtf16(std::to_string(arity.first)) +
                     (arity.first == arity.second ? u"" : u" to " + Utf8ToUtf16(std::to_string(arity.second))) +
                     u" arguments");
      return e;
    }
    return Error(u"Unknown function " + e->text + u"()");
  }

  bool StartsStep() const {
    switch (Peek().kind) {
      case Tok::Name:
      case Tok::Star:
      case Tok::At:
      case Tok::Dot:
      case Tok::DotDot: return true;
      default: return false;
    }
  }

  static Step DescendantOrSelf() {
    Step s;
    s.axis = Axis::DescendantOrSelf;
    s.test = Test::AnyNode;
    return s;
  }

  ExprPtr LocationPath() {
    auto e = std::make_unique<Expr>();
    e->op = Op::Path;
    if (Accept(Tok::Slash)) {
      e->absolute = true;
      if (!StartsStep()) return e;  // "/" alone: the document
    } else if (Accept(Tok::SlashSlash)) {
      e->absolute = true;
      e->steps.push_back(DescendantOrSelf());
    } else if (!StartsStep()) {
      return Error(Peek().kind == Tok::End ? u"The path is empty or ends early" : u"Unexpected '" + Peek().text + u"'");
    }
    for (;;) {
      Step s;
      if (!ParseStep(&s)) return nullptr;
      e->steps.push_back(std::move(s));
      if (Accept(Tok::Slash)) continue;
      if (Accept(Tok::SlashSlash)) {
        e->steps.push_back(DescendantOrSelf());
        continue;
      }
      return e;
    }
  }

  bool ParseStep(Step* s) {
    if (Accept(Tok::Dot)) {
      s->axis = Axis::Self;
      s->test = Test::AnyNode;
      return true;
    }
    if (Accept(Tok::DotDot)) {
      s->axis = Axis::Parent;
      s->test = Test::AnyNode;
      return true;
    }
    if (Accept(Tok::At)) {
      s->axis = Axis::Attribute;
    } else if (Peek().kind == Tok::Name && Peek(1).kind == Tok::ColonColon) {
      static const std::pair<std::u16string_view, Axis> kAxes[] = {
          {u"child", Axis::Child},
          {u"attribute", Axis::Attribute},
          {u"self", Axis::Self},
          {u"parent", Axis::Parent},
          {u"descendant", Axis::Descendant},
          {u"descendant-or-self", Axis::DescendantOrSelf},
          {u"ancestor", Axis::Ancestor},
          {u"ancestor-or-self", Axis::AncestorOrSelf},
          {u"following-sibling", Axis::FollowingSibling},
          {u"preceding-sibling", Axis::PrecedingSibling},
      };
      bool known = false;
      for (const auto& [name, axis] : kAxes) {
        if (name == Peek().text) {
          s->axis = axis;
          known = true;
        }
      }
      if (!known) {
        Error(u"Unknown axis '" + Peek().text + u"'");
        return false;
      }
      m_i += 2;
    }
    if (Accept(Tok::Star)) {
      s->test = Test::Any;
    } else if (Peek().kind == Tok::Name) {
      const Token& t = Next();
      if (Peek().kind == Tok::LParen && IsNodeType(t.text)) {
        ++m_i;
        s->test = t.text == u"text"     ? Test::Text
                  : t.text == u"node"   ? Test::AnyNode
                  : t.text == u"comment" ? Test::Comment
                                         : Test::PI;
        if (s->test == Test::PI && Peek().kind == Tok::Literal) s->name = Next().text;
        if (!Expect(Tok::RParen, u"')'")) return false;
      } else if (t.text.size() >= 2 && t.text.compare(t.text.size() - 2, 2, u":*") == 0) {
        s->test = Test::PrefixAny;
        s->name = t.text.substr(0, t.text.size() - 2);
      } else {
        s->test = Test::Name;
        s->name = t.text;
      }
    } else {
      Error(Peek().kind == Tok::End ? u"A step is missing: the path ends" : u"Expected a name but found '" + Peek().text + u"'");
      return false;
    }
    while (Accept(Tok::LBracket)) {
      Nest n(this);
      if (m_depth > kMaxNesting) {
        Error(u"The path is nested too deeply");
        return false;
      }
      ExprPtr p = Or();
      if (!p || !Expect(Tok::RBracket, u"']'")) return false;
      s->predicates.push_back(std::move(p));
    }
    return true;
  }

  std::vector<Token> m_t;
  std::u16string_view m_src;
  std::size_t m_i = 0;
  int m_depth = 0;
  std::u16string m_error;
};

// --- Evaluation ---

struct Value {
  enum Kind { Nodes, String, Number, Boolean } kind = Nodes;
  std::vector<Node*> nodes;
  std::u16string str;
  double num = 0;
  bool b = false;
};

std::u16string StringValue(const Node* n) { return NodeText(n, false); }

double ToNumber(std::u16string_view s) {
  while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
  std::string a;
  for (char16_t c : s) {
    if (c >= 0x80) return std::nan("");
    a.push_back(static_cast<char>(c));
  }
  std::size_t i = 0;
  if (i < a.size() && a[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < a.size() && a[i] >= '0' && a[i] <= '9') ++i, ++digits;
  if (i < a.size() && a[i] == '.') {
    ++i;
    while (i < a.size() && a[i] >= '0' && a[i] <= '9') ++i, ++digits;
  }
  if (digits == 0 || i != a.size()) return std::nan("");
  double d = 0;
  std::from_chars(a.data() + (a[0] == '-' ? 1 : 0), a.data() + a.size(), d);
  return a[0] == '-' ? -d : d;
}

std::u16string NumberToString(double d) {
  if (std::isnan(d)) return u"NaN";
  if (std::isinf(d)) return d > 0 ? u"Infinity" : u"-Infinity";
  if (d == std::floor(d) && std::fabs(d) < 1e15) return Utf8ToUtf16(std::to_string(static_cast<long long>(d)));
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  return Utf8ToUtf16(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

std::u16string ToString(const Value& v) {
  switch (v.kind) {
    case Value::Nodes: return v.nodes.empty() ? std::u16string() : StringValue(v.nodes.front());
    case Value::String: return v.str;
    case Value::Number: return NumberToString(v.num);
    case Value::Boolean: return v.b ? u"true" : u"false";
  }
  return {};
}

double ToNumber(const Value& v) {
  switch (v.kind) {
    case Value::Number: return v.num;
    case Value::Boolean: return v.b ? 1 : 0;
    default: return ToNumber(ToString(v));
  }
}

bool ToBool(const Value& v) {
  switch (v.kind) {
    case Value::Nodes: return !v.nodes.empty();
    case Value::String: return !v.str.empty();
    case Value::Number: return v.num != 0 && !std::isnan(v.num);
    case Value::Boolean: return v.b;
  }
  return false;
}

Value Bool(bool b) {
  Value v;
  v.kind = Value::Boolean;
  v.b = b;
  return v;
}
Value Num(double d) {
  Value v;
  v.kind = Value::Number;
  v.num = d;
  return v;
}
Value Str(std::u16string s) {
  Value v;
  v.kind = Value::String;
  v.str = std::move(s);
  return v;
}

bool CompareAtoms(Op op, const Value& a, const Value& b) {
  if (op == Op::Eq || op == Op::Ne) {
    bool eq;
    if (a.kind == Value::Boolean || b.kind == Value::Boolean) eq = ToBool(a) == ToBool(b);
    else if (a.kind == Value::Number || b.kind == Value::Number) eq = ToNumber(a) == ToNumber(b);
    else eq = ToString(a) == ToString(b);
    return op == Op::Eq ? eq : !eq;
  }
  double x = ToNumber(a), y = ToNumber(b);
  switch (op) {
    case Op::Lt: return x < y;
    case Op::Le: return x <= y;
    case Op::Gt: return x > y;
    case Op::Ge: return x >= y;
    default: return false;
  }
}

// XPath 1.0 comparison: a node-set compares by the string values of its nodes, true when any
// one of them makes the comparison true.
bool Compare(Op op, const Value& a, const Value& b) {
  if (a.kind == Value::Nodes && b.kind == Value::Nodes) {
    for (const Node* x : a.nodes)
      for (const Node* y : b.nodes)
        if (CompareAtoms(op, Str(StringValue(x)), Str(StringValue(y)))) return true;
    return false;
  }
  if (a.kind == Value::Nodes || b.kind == Value::Nodes) {
    const Value& set = a.kind == Value::Nodes ? a : b;
    const Value& other = a.kind == Value::Nodes ? b : a;
    if (other.kind == Value::Boolean) {
      return a.kind == Value::Nodes ? CompareAtoms(op, Bool(ToBool(set)), other) : CompareAtoms(op, other, Bool(ToBool(set)));
    }
    for (const Node* n : set.nodes) {
      Value atom = other.kind == Value::Number ? Num(ToNumber(StringValue(n))) : Str(StringValue(n));
      if (a.kind == Value::Nodes ? CompareAtoms(op, atom, other) : CompareAtoms(op, other, atom)) return true;
    }
    return false;
  }
  return CompareAtoms(op, a, b);
}

class Evaluator {
 public:
  Value Eval(const Expr& e, Node* ctx, std::size_t pos, std::size_t size) {
    switch (e.op) {
      case Op::Path: return Path(e, ctx);
      case Op::Literal: return Str(e.text);
      case Op::Number: return Num(e.number);
      case Op::Neg: return Num(-ToNumber(Eval(*e.args[0], ctx, pos, size)));
      case Op::Or: return Bool(ToBool(Eval(*e.args[0], ctx, pos, size)) || ToBool(Eval(*e.args[1], ctx, pos, size)));
      case Op::And: return Bool(ToBool(Eval(*e.args[0], ctx, pos, size)) && ToBool(Eval(*e.args[1], ctx, pos, size)));
      case Op::Union: {
        Value a = Eval(*e.args[0], ctx, pos, size);
        Value b = Eval(*e.args[1], ctx, pos, size);
        if (a.kind != Value::Nodes || b.kind != Value::Nodes) {
          m_error = u"Both sides of '|' must select nodes.";
          return Value{};
        }
        a.nodes.insert(a.nodes.end(), b.nodes.begin(), b.nodes.end());
        SortUnique(&a.nodes);
        return a;
      }
      case Op::Call: return Call(e, ctx, pos, size);
      default:
        return Bool(Compare(e.op, Eval(*e.args[0], ctx, pos, size), Eval(*e.args[1], ctx, pos, size)));
    }
  }

  std::u16string m_error;

 private:
  Value Call(const Expr& e, Node* ctx, std::size_t pos, std::size_t size) {
    const std::u16string& f = e.text;
    auto arg = [&](std::size_t i) { return Eval(*e.args[i], ctx, pos, size); };
    if (f == u"last") return Num(static_cast<double>(size));
    if (f == u"position") return Num(static_cast<double>(pos));
    if (f == u"true") return Bool(true);
    if (f == u"false") return Bool(false);
    if (f == u"not") return Bool(!ToBool(arg(0)));
    if (f == u"string") return Str(e.args.empty() ? StringValue(ctx) : ToString(arg(0)));
    if (f == u"number") return Num(e.args.empty() ? ToNumber(StringValue(ctx)) : ToNumber(arg(0)));
    if (f == u"contains") return Bool(ToString(arg(0)).find(ToString(arg(1))) != std::u16string::npos);
    if (f == u"starts-with") return Bool(ToString(arg(0)).rfind(ToString(arg(1)), 0) == 0);
    if (f == u"count" || f == u"name" || f == u"local-name") {
      Value v;
      if (e.args.empty()) {
        v.nodes.push_back(ctx);
      } else {
        v = arg(0);
        if (v.kind != Value::Nodes) {
          m_error = u"The function " + f + u"() needs a node selection as its argument.";
          return Value{};
        }
      }
      if (f == u"count") return Num(static_cast<double>(v.nodes.size()));
      if (v.nodes.empty()) return Str({});
      const Node* n = v.nodes.front();
      bool named = n->type == NODE_ELEMENT || n->type == NODE_ATTRIBUTE || n->type == NODE_PROCESSING_INSTRUCTION;
      if (!named) return Str({});
      return Str(std::u16string(f == u"name" ? std::u16string_view(n->name) : n->LocalName()));
    }
    return Value{};
  }

  static bool TestNode(const Step& s, const Node* n) {
    switch (s.test) {
      case Test::AnyNode: return true;
      case Test::Text: return n->type == NODE_TEXT || n->type == NODE_CDATA_SECTION;
      case Test::Comment: return n->type == NODE_COMMENT;
      case Test::PI: return n->type == NODE_PROCESSING_INSTRUCTION && (s.name.empty() || s.name == n->name);
      default: break;
    }
    DOMNodeType principal = s.axis == Axis::Attribute ? NODE_ATTRIBUTE : NODE_ELEMENT;
    if (n->type != principal) return false;
    if (s.test == Test::Any) return true;
    if (s.test == Test::PrefixAny) return n->Prefix() == s.name;
    return n->name == s.name;
  }

  // The nodes of an axis from n, in axis order (reverse axes nearest first).
  static void AxisNodes(Axis axis, Node* n, std::vector<Node*>* out) {
    auto descendants = [&](Node* top) {
      Node* x = top->first;
      while (x) {
        out->push_back(x);
        if (x->first) {
          x = x->first;
          continue;
        }
        while (x && x != top && !x->next) x = x->parent;
        if (!x || x == top) break;
        x = x->next;
      }
    };
    bool attr = n->type == NODE_ATTRIBUTE;
    switch (axis) {
      case Axis::Child:
        if (!attr)
          for (Node* c = n->first; c; c = c->next) out->push_back(c);
        break;
      case Axis::Attribute:
        for (Node* a : n->attrs)
          if (!a->IsNamespaceDecl()) out->push_back(a);
        break;
      case Axis::Self: out->push_back(n); break;
      case Axis::Parent:
        if (n->parent) out->push_back(n->parent);
        break;
      case Axis::DescendantOrSelf:
        out->push_back(n);
        [[fallthrough]];
      case Axis::Descendant:
        if (!attr) descendants(n);
        break;
      case Axis::AncestorOrSelf:
        out->push_back(n);
        [[fallthrough]];
      case Axis::Ancestor:
        for (Node* p = n->parent; p; p = p->parent) out->push_back(p);
        break;
      case Axis::FollowingSibling:
        if (!attr)
          for (Node* s = n->next; s; s = s->next) out->push_back(s);
        break;
      case Axis::PrecedingSibling:
        if (!attr)
          for (Node* s = n->prev; s; s = s->prev) out->push_back(s);
        break;
    }
  }

  // Sorts nodes into document order and drops duplicates, numbering the tree once.
  void SortUnique(std::vector<Node*>* nodes) {
    if (nodes->size() < 2) return;
    std::unordered_map<const Node*, std::size_t> order;
    std::unordered_set<Node*> tops;
    for (Node* n : *nodes) tops.insert(TopOf(n));
    std::size_t k = 0;
    for (Node* top : tops) {
      std::vector<Node*> stack{top};
      while (!stack.empty()) {
        Node* x = stack.back();
        stack.pop_back();
        order[x] = k++;
        for (Node* c = x->last; c; c = c->prev) stack.push_back(c);
        for (auto it = x->attrs.rbegin(); it != x->attrs.rend(); ++it) stack.push_back(*it);
      }
    }
    std::sort(nodes->begin(), nodes->end(), [&](const Node* a, const Node* b) { return order[a] < order[b]; });
    nodes->erase(std::unique(nodes->begin(), nodes->end()), nodes->end());
  }

  Value Path(const Expr& e, Node* ctx) {
    Value v;
    v.kind = Value::Nodes;
    v.nodes.push_back(e.absolute ? TopOf(ctx) : ctx);
    std::vector<Node*> next, cand, axis, kept;
    for (const Step& s : e.steps) {
      next.clear();
      for (Node* n : v.nodes) {
        cand.clear();
        if (s.axis == Axis::Child && n->type != NODE_ATTRIBUTE) {
          // The common step, walked in place.
          for (Node* c = n->first; c; c = c->next)
            if (TestNode(s, c)) cand.push_back(c);
        } else if (s.axis == Axis::Attribute) {
          for (Node* a : n->attrs)
            if (!a->IsNamespaceDecl() && TestNode(s, a)) cand.push_back(a);
        } else {
          axis.clear();
          AxisNodes(s.axis, n, &axis);
          for (Node* x : axis)
            if (TestNode(s, x)) cand.push_back(x);
        }
        for (const ExprPtr& p : s.predicates) {
          kept.clear();
          for (std::size_t i = 0; i < cand.size(); ++i) {
            Value r = Eval(*p, cand[i], i + 1, cand.size());
            if (!m_error.empty()) return Value{};
            bool keep = r.kind == Value::Number ? r.num == static_cast<double>(i + 1) : ToBool(r);
            if (keep) kept.push_back(cand[i]);
          }
          cand.swap(kept);
        }
        if (IsReverse(s.axis)) std::reverse(cand.begin(), cand.end());
        next.insert(next.end(), cand.begin(), cand.end());
      }
      if (v.nodes.size() > 1 || IsReverse(s.axis)) SortUnique(&next);
      v.nodes.swap(next);
      if (v.nodes.empty()) break;
    }
    return v;
  }
};

// Compiled paths, shared by every document and thread: the system selects with a few hundred
// fixed paths, each compiled once. A compiled path is never changed after it is made. The cache
// stops growing at its limit (later paths are compiled per call).
constexpr std::size_t kMaxCachedPaths = 4096;

struct PathHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view path) const { return std::hash<std::u16string_view>()(path); }
};

struct PathCache {
  std::shared_mutex lock;
  std::unordered_map<std::u16string, std::shared_ptr<const Expr>, PathHash, std::equal_to<>> paths;
};

PathCache& Paths() {
  static PathCache* cache = new PathCache;  // lives to the end of the process, past static destructors
  return *cache;
}

std::shared_ptr<const Expr> Compile(std::u16string_view path, std::u16string* reason) {
  PathCache& cache = Paths();
  {
    std::shared_lock read(cache.lock);
    auto it = cache.paths.find(path);
    if (it != cache.paths.end()) return it->second;
  }
  std::vector<Token> tokens;
  Lexer lexer(path);
  if (!lexer.Run(&tokens, reason)) return nullptr;
  Parser parser(std::move(tokens), path);
  std::shared_ptr<const Expr> expr(parser.Parse(reason).release());
  if (!expr) return nullptr;
  std::unique_lock write(cache.lock);
  if (cache.paths.size() < kMaxCachedPaths) cache.paths.emplace(std::u16string(path), expr);
  return expr;
}

}  // namespace

HRESULT SelectNodes(Node* context, std::u16string_view path, std::vector<Node*>* out, std::u16string* reason) {
  out->clear();
  reason->clear();
  const std::shared_ptr<const Expr> expr = Compile(path, reason);
  if (!expr) return E_FAIL;
  Evaluator ev;
  Value v = ev.Eval(*expr, context, 1, 1);
  if (!ev.m_error.empty()) {
    *reason = ev.m_error;
    return E_FAIL;
  }
  if (v.kind != Value::Nodes) {
    *reason = u"The path '" + std::u16string(path) + u"' does not select nodes.";
    return E_FAIL;
  }
  *out = std::move(v.nodes);
  return S_OK;
}

}  // namespace vkr::xml
