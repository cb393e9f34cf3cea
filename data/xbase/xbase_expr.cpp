#include "xbase_expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zn::xbase {

namespace {

enum class Op {
    Field,
    Constant,
    Not,
    And,
    Or,
    Equal,
    ExactEqual,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Contains,
    Add,
    Subtract,
    Multiply,
    Divide,
    Negate,
    Dtos,
    Ctod,
    Dtoc,
    Date,
    Upper,
    Alltrim,
    Ltrim,
    Trim,
    Substr,
    Left,
    Right,
    Str,
    Val,
    Empty,
    Deleted,
    Recno,
    Iif,
};

struct FunctionInfo {
    const char* name;
    Op op;
    int minArgs, maxArgs;
};

// Argument types are checked in Parser::CheckFunction.
const FunctionInfo kFunctions[] = {
    {"DTOS", Op::Dtos, 1, 1},   {"CTOD", Op::Ctod, 1, 1},   {"DTOC", Op::Dtoc, 1, 1},
    {"DATE", Op::Date, 0, 0},   {"UPPER", Op::Upper, 1, 1}, {"ALLTRIM", Op::Alltrim, 1, 1},
    {"LTRIM", Op::Ltrim, 1, 1}, {"TRIM", Op::Trim, 1, 1},   {"SUBSTR", Op::Substr, 2, 3},
    {"LEFT", Op::Left, 2, 2},   {"RIGHT", Op::Right, 2, 2}, {"STR", Op::Str, 1, 3},
    {"VAL", Op::Val, 1, 1},     {"EMPTY", Op::Empty, 1, 1}, {"DELETED", Op::Deleted, 0, 0},
    {"RECNO", Op::Recno, 0, 0}, {"IIF", Op::Iif, 3, 3},
};

enum class Tok {
    End,
    Ident,
    Number,
    String,
    True,
    False,
    Not,
    And,
    Or,
    LParen,
    RParen,
    Comma,
    Plus,
    Minus,
    Star,
    Slash,
    Equal,
    ExactEqual,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Dollar
};

struct Token {
    Tok kind = Tok::End;
    std::string text;
};

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Tokenize(const std::string& s, std::vector<Token>& out)
{
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = s[i];
        if (std::isspace(c)) {
            ++i;
            continue;
        }
        Token t;
        if (std::isalpha(c) || c == '_') {
            size_t j = i;
            while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_'))
                ++j;
            t.kind = Tok::Ident;
            t.text = Upper(s.substr(i, j - i));
            i = j;
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t j = i;
            while (j < n && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.'))
                ++j;
            t.kind = Tok::Number;
            t.text = s.substr(i, j - i);
            if (std::count(t.text.begin(), t.text.end(), '.') > 1)
                return false;
            i = j;
        } else if (c == '.') {
            size_t j = s.find('.', i + 1);
            if (j == std::string::npos)
                return false;
            std::string word = Upper(s.substr(i + 1, j - i - 1));
            if (word == "T" || word == "Y" || word == "TRUE")
                t.kind = Tok::True;
            else if (word == "F" || word == "N" || word == "FALSE")
                t.kind = Tok::False;
            else if (word == "NOT")
                t.kind = Tok::Not;
            else if (word == "AND")
                t.kind = Tok::And;
            else if (word == "OR")
                t.kind = Tok::Or;
            else
                return false;
            i = j + 1;
        } else if (c == '"' || c == '\'' || c == '[') {
            char close = c == '[' ? ']' : static_cast<char>(c);
            size_t j = s.find(close, i + 1);
            if (j == std::string::npos)
                return false;
            t.kind = Tok::String;
            t.text = s.substr(i + 1, j - i - 1);
            i = j + 1;
        } else {
            auto two = s.substr(i, 2);
            if (two == "==")
                t.kind = Tok::ExactEqual;
            else if (two == "<=")
                t.kind = Tok::LessEqual;
            else if (two == ">=")
                t.kind = Tok::GreaterEqual;
            else if (two == "<>" || two == "!=")
                t.kind = Tok::NotEqual;
            if (t.kind != Tok::End) {
                i += 2;
            } else {
                switch (c) {
                case '(': t.kind = Tok::LParen; break;
                case ')': t.kind = Tok::RParen; break;
                case ',': t.kind = Tok::Comma; break;
                case '+': t.kind = Tok::Plus; break;
                case '-': t.kind = Tok::Minus; break;
                case '*': t.kind = Tok::Star; break;
                case '/': t.kind = Tok::Slash; break;
                case '=': t.kind = Tok::Equal; break;
                case '<': t.kind = Tok::Less; break;
                case '>': t.kind = Tok::Greater; break;
                case '#': t.kind = Tok::NotEqual; break;
                case '!': t.kind = Tok::Not; break;
                case '$': t.kind = Tok::Dollar; break;
                default: return false;
                }
                ++i;
            }
        }
        out.push_back(std::move(t));
    }
    out.push_back(Token{});
    return true;
}

// Numbers from expressions may be huge or not numbers at all; casts go through this.
long ToLong(double v, long low, long high)
{
    if (std::isnan(v) || v < low)
        return low;
    if (v > high)
        return high;
    return static_cast<long>(v);
}

// A date moved by a number of days: the empty date when it leaves the calendar.
int32_t ShiftDate(int32_t base, double days)
{
    if (base == 0)
        return 0;
    double d = base + days;
    static const double kFirst = JulianDay(1, 1, 1), kLast = JulianDay(9999, 12, 31);
    if (std::isnan(d) || d < kFirst || d > kLast)
        return 0;
    return static_cast<int32_t>(d);
}

void TrimRight(std::string& s)
{
    size_t e = s.find_last_not_of(' ');
    s.erase(e == std::string::npos ? 0 : e + 1);
}

void TrimLeft(std::string& s)
{
    size_t b = s.find_first_not_of(' ');
    s.erase(0, b == std::string::npos ? s.size() : b);
}

} // namespace

struct Expression::Node {
    Op op = Op::Constant;
    int depth = 1;
    char type = 'L';
    int width = 0;
    int field = -1;
    std::vector<Node*> args;
    Value constant;
    mutable Value result;
};

class Parser {
public:
    Parser(Expression& e, const std::vector<Token>& tokens) : e_(e), t_(tokens) {}

    Err Parse(Expression::Node*& root)
    {
        Err err = Or(root);
        if (err == Err::Ok && t_[pos_].kind != Tok::End)
            err = Err::ExprSyntax;
        // Evaluation recurses along the tree, so long chains such as 1+1+...+1 are refused.
        if (err == Err::Ok && tooDeep_)
            err = Err::ExprSyntax;
        return err;
    }

private:
    using Node = Expression::Node;

    Node* Make(Op op, char type, int width, std::vector<Node*> args = {})
    {
        auto n = std::make_unique<Node>();
        n->op = op;
        n->type = type;
        n->width = width;
        n->args = std::move(args);
        for (const Node* a : n->args)
            n->depth = std::max(n->depth, a->depth + 1);
        if (n->depth > kMaxTreeDepth)
            tooDeep_ = true;
        n->result.type = type;
        Node* raw = n.get();
        e_.nodes_.push_back(std::move(n));
        return raw;
    }

    bool Accept(Tok k)
    {
        if (t_[pos_].kind != k)
            return false;
        ++pos_;
        return true;
    }

    // Nesting is bounded so that hostile text cannot exhaust the stack.
    struct Depth {
        explicit Depth(int& d) : d_(d) { ++d_; }
        ~Depth() { --d_; }
        int& d_;
    };

    Err Or(Node*& out)
    {
        Depth guard(depth_);
        if (depth_ > 200)
            return Err::ExprSyntax;
        if (Err e = And(out); e != Err::Ok)
            return e;
        while (Accept(Tok::Or)) {
            Node* right = nullptr;
            if (Err e = And(right); e != Err::Ok)
                return e;
            if (out->type != 'L' || right->type != 'L')
                return Err::ExprType;
            out = Make(Op::Or, 'L', 1, {out, right});
        }
        return Err::Ok;
    }

    Err And(Node*& out)
    {
        if (Err e = Not(out); e != Err::Ok)
            return e;
        while (Accept(Tok::And)) {
            Node* right = nullptr;
            if (Err e = Not(right); e != Err::Ok)
                return e;
            if (out->type != 'L' || right->type != 'L')
                return Err::ExprType;
            out = Make(Op::And, 'L', 1, {out, right});
        }
        return Err::Ok;
    }

    Err Not(Node*& out)
    {
        Depth guard(depth_);
        if (depth_ > 200)
            return Err::ExprSyntax;
        if (Accept(Tok::Not)) {
            Node* inner = nullptr;
            if (Err e = Not(inner); e != Err::Ok)
                return e;
            if (inner->type != 'L')
                return Err::ExprType;
            out = Make(Op::Not, 'L', 1, {inner});
            return Err::Ok;
        }
        return Relation(out);
    }

    Err Relation(Node*& out)
    {
        if (Err e = Sum(out); e != Err::Ok)
            return e;
        Op op;
        switch (t_[pos_].kind) {
        case Tok::Equal: op = Op::Equal; break;
        case Tok::ExactEqual: op = Op::ExactEqual; break;
        case Tok::NotEqual: op = Op::NotEqual; break;
        case Tok::Less: op = Op::Less; break;
        case Tok::LessEqual: op = Op::LessEqual; break;
        case Tok::Greater: op = Op::Greater; break;
        case Tok::GreaterEqual: op = Op::GreaterEqual; break;
        case Tok::Dollar: op = Op::Contains; break;
        default: return Err::Ok;
        }
        ++pos_;
        Node* right = nullptr;
        if (Err e = Sum(right); e != Err::Ok)
            return e;
        if (out->type != right->type)
            return Err::ExprType;
        if (op == Op::Contains && out->type != 'C')
            return Err::ExprType;
        bool ordering = op != Op::Equal && op != Op::ExactEqual && op != Op::NotEqual;
        if (ordering && out->type == 'L' && op != Op::Contains)
            return Err::ExprType;
        out = Make(op, 'L', 1, {out, right});
        return Err::Ok;
    }

    Err Sum(Node*& out)
    {
        if (Err e = Product(out); e != Err::Ok)
            return e;
        while (t_[pos_].kind == Tok::Plus || t_[pos_].kind == Tok::Minus) {
            bool plus = t_[pos_++].kind == Tok::Plus;
            Node* right = nullptr;
            if (Err e = Product(right); e != Err::Ok)
                return e;
            char a = out->type, b = right->type;
            char type;
            if (plus && a == 'C' && b == 'C')
                type = 'C';
            else if (a == 'N' && b == 'N')
                type = 'N';
            else if (a == 'D' && b == 'N')
                type = 'D';
            else if (plus && a == 'N' && b == 'D')
                type = 'D';
            else if (!plus && a == 'D' && b == 'D')
                type = 'N';
            else
                return Err::ExprType;
            int width = type == 'C' ? std::min(out->width + right->width, 65535) : (type == 'D' ? 8 : 10);
            out = Make(plus ? Op::Add : Op::Subtract, type, width, {out, right});
        }
        return Err::Ok;
    }

    Err Product(Node*& out)
    {
        if (Err e = Unary(out); e != Err::Ok)
            return e;
        while (t_[pos_].kind == Tok::Star || t_[pos_].kind == Tok::Slash) {
            bool times = t_[pos_++].kind == Tok::Star;
            Node* right = nullptr;
            if (Err e = Unary(right); e != Err::Ok)
                return e;
            if (out->type != 'N' || right->type != 'N')
                return Err::ExprType;
            out = Make(times ? Op::Multiply : Op::Divide, 'N', 10, {out, right});
        }
        return Err::Ok;
    }

    Err Unary(Node*& out)
    {
        Depth guard(depth_);
        if (depth_ > 200)
            return Err::ExprSyntax;
        if (Accept(Tok::Minus)) {
            if (Err e = Unary(out); e != Err::Ok)
                return e;
            if (out->type != 'N')
                return Err::ExprType;
            out = Make(Op::Negate, 'N', 10, {out});
            return Err::Ok;
        }
        if (Accept(Tok::Plus))
            return Unary(out);
        return Primary(out);
    }

    Err Primary(Node*& out)
    {
        const Token& t = t_[pos_];
        switch (t.kind) {
        case Tok::Number: {
            ++pos_;
            out = Make(Op::Constant, 'N', 10);
            out->constant.type = 'N';
            out->constant.number = strtod(t.text.c_str(), nullptr);
            return Err::Ok;
        }
        case Tok::String:
            ++pos_;
            out = Make(Op::Constant, 'C', static_cast<int>(t.text.size()));
            out->constant.type = 'C';
            out->constant.text = t.text;
            return Err::Ok;
        case Tok::True:
        case Tok::False:
            ++pos_;
            out = Make(Op::Constant, 'L', 1);
            out->constant.type = 'L';
            out->constant.logical = t.kind == Tok::True;
            return Err::Ok;
        case Tok::LParen: {
            ++pos_;
            if (Err e = Or(out); e != Err::Ok)
                return e;
            return Accept(Tok::RParen) ? Err::Ok : Err::ExprSyntax;
        }
        case Tok::Ident:
            ++pos_;
            if (Accept(Tok::LParen))
                return Function(t.text, out);
            return FieldRef(t.text, out);
        default: return Err::ExprSyntax;
        }
    }

    Err FieldRef(const std::string& name, Node*& out)
    {
        for (size_t i = 0; i < e_.fields_.size(); ++i) {
            const Field& f = e_.fields_[i];
            if (f.name != name)
                continue;
            char type = f.type == 'N' || f.type == 'D' || f.type == 'L' ? f.type : 'C';
            out = Make(Op::Field, type, f.length);
            out->field = static_cast<int>(i);
            return Err::Ok;
        }
        return Err::NoSuchField;
    }

    Err Function(const std::string& name, Node*& out)
    {
        const FunctionInfo* function = nullptr;
        for (const auto& f : kFunctions)
            if (name == f.name)
                function = &f;
        if (!function)
            return Err::ExprSyntax;
        std::vector<Node*> args;
        if (!Accept(Tok::RParen)) {
            do {
                Node* a = nullptr;
                if (Err e = Or(a); e != Err::Ok)
                    return e;
                args.push_back(a);
            } while (Accept(Tok::Comma));
            if (!Accept(Tok::RParen))
                return Err::ExprSyntax;
        }
        int count = static_cast<int>(args.size());
        if (count < function->minArgs || count > function->maxArgs)
            return Err::ExprSyntax;
        return CheckFunction(function->op, args, out);
    }

    static bool Is(const std::vector<Node*>& a, size_t i, char type) { return i >= a.size() || a[i]->type == type; }

    static int ConstantInt(const Node* n, int fallback)
    {
        if (n->op == Op::Constant && n->type == 'N')
            return static_cast<int>(ToLong(n->constant.number, 0, 65535));
        return fallback;
    }

    Err CheckFunction(Op op, std::vector<Node*>& a, Node*& out)
    {
        char type = 'C';
        int width = 0;
        bool ok = true;
        switch (op) {
        case Op::Dtos:
            ok = Is(a, 0, 'D');
            width = 8;
            break;
        case Op::Dtoc:
            ok = Is(a, 0, 'D');
            width = 10;
            break;
        case Op::Ctod:
            ok = Is(a, 0, 'C');
            type = 'D';
            width = 8;
            break;
        case Op::Date:
            type = 'D';
            width = 8;
            break;
        case Op::Upper:
        case Op::Alltrim:
        case Op::Ltrim:
        case Op::Trim:
            ok = Is(a, 0, 'C');
            width = a[0]->width;
            break;
        case Op::Substr:
            ok = Is(a, 0, 'C') && Is(a, 1, 'N') && Is(a, 2, 'N');
            width = a.size() > 2 ? ConstantInt(a[2], a[0]->width) : a[0]->width;
            width = std::min(width, a[0]->width);
            break;
        case Op::Left:
        case Op::Right:
            ok = Is(a, 0, 'C') && Is(a, 1, 'N');
            width = std::min(ConstantInt(a[1], a[0]->width), a[0]->width);
            break;
        case Op::Str:
            ok = Is(a, 0, 'N') && Is(a, 1, 'N') && Is(a, 2, 'N');
            width = a.size() > 1 ? ConstantInt(a[1], 10) : 10;
            break;
        case Op::Val:
            ok = Is(a, 0, 'C');
            type = 'N';
            width = 10;
            break;
        case Op::Empty:
            type = 'L';
            width = 1;
            break;
        case Op::Deleted:
            type = 'L';
            width = 1;
            break;
        case Op::Recno:
            type = 'N';
            width = 10;
            break;
        case Op::Iif:
            ok = Is(a, 0, 'L') && a[1]->type == a[2]->type;
            type = a[1]->type;
            width = std::max(a[1]->width, a[2]->width);
            break;
        default: ok = false;
        }
        if (!ok)
            return Err::ExprType;
        out = Make(op, type, std::min(width, 65535), std::move(a));
        return Err::Ok;
    }

    Expression& e_;
    const std::vector<Token>& t_;
    size_t pos_ = 0;
    int depth_ = 0;
    bool tooDeep_ = false;
    static constexpr int kMaxTreeDepth = 256;
};

Expression::~Expression() = default;

Err Expression::Compile(const std::string& text, const std::vector<Field>& fields, std::unique_ptr<Expression>& out)
{
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens))
        return Err::ExprSyntax;
    std::unique_ptr<Expression> e(new Expression());
    e->text_ = text;
    e->fields_ = fields;
    for (Field& f : e->fields_)
        f.name = Upper(f.name);
    Parser parser(*e, tokens);
    if (Err err = parser.Parse(e->root_); err != Err::Ok)
        return err;
    for (const auto& n : e->nodes_)
        if (n->op == Op::Field)
            e->fieldNodes_.push_back(n.get());
    out = std::move(e);
    return Err::Ok;
}

char Expression::Type() const { return root_->type; }
int Expression::Width() const { return root_->width; }
int Expression::SingleField() const { return root_->op == Op::Field ? root_->field : -1; }

namespace {

const Expression::Node* DropDoubleNegation(const Expression::Node* n)
{
    while (n->op == Op::Not && n->args[0]->op == Op::Not)
        n = n->args[0]->args[0];
    return n;
}

void Render(const Expression::Node* n, std::string& out)
{
    n = DropDoubleNegation(n);
    switch (n->op) {
    case Op::Constant: {
        const Value& v = n->constant;
        out += 'K';
        out += v.type;
        out += ':';
        switch (v.type) {
        case 'C': out += std::to_string(v.text.size()) + ':' + v.text; break;
        case 'N': out += std::to_string(v.number); break;
        case 'D': out += std::to_string(v.date); break;
        default: out += v.logical ? 'T' : 'F';
        }
        return;
    }
    case Op::Field: out += 'F' + std::to_string(n->field); return;
    default:
        out += 'O' + std::to_string(static_cast<int>(n->op)) + '(';
        for (size_t i = 0; i < n->args.size(); ++i) {
            if (i)
                out += ',';
            Render(n->args[i], out);
        }
        out += ')';
    }
}

void CollectConjuncts(const Expression::Node* n, std::vector<std::string>& out)
{
    n = DropDoubleNegation(n);
    if (n->op == Op::And) {
        CollectConjuncts(n->args[0], out);
        CollectConjuncts(n->args[1], out);
        return;
    }
    std::string text;
    Render(n, text);
    out.push_back(std::move(text));
}

} // namespace

std::vector<std::string> Expression::Conjuncts() const
{
    std::vector<std::string> out;
    CollectConjuncts(root_, out);
    return out;
}

std::string Expression::Canonical() const
{
    std::string out;
    Render(root_, out);
    return out;
}

std::string Expression::NegatedCanonical() const
{
    const Node* n = DropDoubleNegation(root_);
    std::string out;
    if (n->op == Op::Not) {
        Render(n->args[0], out);
    } else {
        out = 'O' + std::to_string(static_cast<int>(Op::Not)) + '(';
        Render(n, out);
        out += ')';
    }
    return out;
}

Expression::Shape Expression::Form(int& field) const
{
    field = -1;
    const Node* n = root_;
    if (n->op == Op::Not && n->args[0]->op == Op::Deleted)
        return Shape::NotDeleted;
    bool upper = n->op == Op::Upper;
    if (upper)
        n = n->args[0];
    if (n->op != Op::Field || fields_[n->field].type != 'C')
        return Shape::Other;
    field = n->field;
    return upper ? Shape::UpperTextField : Shape::TextField;
}

void ReadField(const Field& field, const char* record, Value& out)
{
    const char* p = record + field.offset;
    switch (field.type) {
    case 'D':
        out.type = 'D';
        out.date = DateFromDtos(p, 8);
        break;
    case 'L':
        out.type = 'L';
        out.logical = *p == 'T' || *p == 't' || *p == 'Y' || *p == 'y';
        break;
    case 'N': {
        out.type = 'N';
        char buf[64];
        size_t n = std::min<size_t>(field.length, sizeof buf - 1);
        memcpy(buf, p, n);
        buf[n] = 0;
        out.number = strtod(buf, nullptr);
        if (!std::isfinite(out.number))
            out.number = 0;
        break;
    }
    default: out.type = 'C'; out.text.assign(p, field.length);
    }
}

bool FormatNumber(double value, int width, int decimals, std::string& out)
{
    char buf[400];
    if (!std::isfinite(value) || std::fabs(value) > 1e300)
        return false;
    // Halves round away from zero, as xBase does (printf would round them to even).
    double scale = std::pow(10.0, decimals);
    if (std::fabs(value) * scale < 1e15)
        value = std::round(value * scale) / scale;
    int n = snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
    if (n < 0 || n > width)
        return false;
    out.assign(buf, n);
    return true;
}

std::string ValueText(const Value& v, const Settings& settings)
{
    switch (v.type) {
    case 'C': return v.text;
    case 'D': return DtocFromDate(v.date, settings);
    case 'L': return v.logical ? ".T." : ".F.";
    default: {
        std::string s;
        if (!FormatNumber(v.number, 10, v.number == std::floor(v.number) ? 0 : 2, s))
            s = std::string(10, '*');
        return s;
    }
    }
}

namespace {

using Node = Expression::Node;

const Value& Eval(const Node* n, const EvalContext& c);

bool EmptyValue(const Value& v)
{
    switch (v.type) {
    case 'C': return v.text.find_first_not_of(" \t\r\n") == std::string::npos;
    case 'N': return v.number == 0;
    case 'D': return v.date == 0;
    default: return !v.logical;
    }
}

int Compare(const Value& a, const Value& b, bool exact)
{
    switch (a.type) {
    case 'C': return CompareText(a.text, b.text, exact);
    case 'N': return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    case 'D': return a.date < b.date ? -1 : (a.date > b.date ? 1 : 0);
    default: return a.logical == b.logical ? 0 : (a.logical ? 1 : -1);
    }
}

void Substring(const std::string& s, double start, double length, std::string& out)
{
    long size = static_cast<long>(s.size());
    long from = ToLong(start, 1, size + 1);
    long count = std::min(ToLong(length, 0, size), size - from + 1);
    if (from > size || count <= 0) {
        out.clear();
        return;
    }
    out.assign(s, from - 1, count);
}

const Value& Eval(const Node* n, const EvalContext& c)
{
    Value& r = n->result;
    const auto& a = n->args;
    switch (n->op) {
    case Op::Constant: return n->constant;
    case Op::Field: return r; // read by Evaluate before the tree is walked
    case Op::Not: r.logical = !Eval(a[0], c).logical; return r;
    case Op::And: r.logical = Eval(a[0], c).logical && Eval(a[1], c).logical; return r;
    case Op::Or: r.logical = Eval(a[0], c).logical || Eval(a[1], c).logical; return r;
    case Op::Equal: r.logical = Compare(Eval(a[0], c), Eval(a[1], c), c.settings->exact) == 0; return r;
    case Op::NotEqual: r.logical = Compare(Eval(a[0], c), Eval(a[1], c), c.settings->exact) != 0; return r;
    case Op::ExactEqual: {
        const Value& x = Eval(a[0], c);
        const Value& y = Eval(a[1], c);
        r.logical = x.type == 'C' ? x.text == y.text : Compare(x, y, true) == 0;
        return r;
    }
    case Op::Less: r.logical = Compare(Eval(a[0], c), Eval(a[1], c), c.settings->exact) < 0; return r;
    case Op::LessEqual: r.logical = Compare(Eval(a[0], c), Eval(a[1], c), c.settings->exact) <= 0; return r;
    case Op::Greater: r.logical = Compare(Eval(a[0], c), Eval(a[1], c), c.settings->exact) > 0; return r;
    case Op::GreaterEqual: r.logical = Compare(Eval(a[0], c), Eval(a[1], c), c.settings->exact) >= 0; return r;
    case Op::Contains: {
        const Value& x = Eval(a[0], c);
        const Value& y = Eval(a[1], c);
        r.logical = y.text.find(x.text) != std::string::npos;
        return r;
    }
    case Op::Add: {
        const Value& x = Eval(a[0], c);
        const Value& y = Eval(a[1], c);
        if (n->type == 'C') {
            r.text.assign(x.text);
            r.text.append(y.text);
        } else if (n->type == 'N') {
            r.number = x.number + y.number;
        } else {
            r.date = x.type == 'D' ? ShiftDate(x.date, y.number) : ShiftDate(y.date, x.number);
        }
        return r;
    }
    case Op::Subtract: {
        const Value& x = Eval(a[0], c);
        const Value& y = Eval(a[1], c);
        if (n->type == 'D')
            r.date = ShiftDate(x.date, -y.number);
        else if (x.type == 'D')
            r.number = x.date - y.date;
        else
            r.number = x.number - y.number;
        return r;
    }
    case Op::Multiply: r.number = Eval(a[0], c).number * Eval(a[1], c).number; return r;
    case Op::Divide: {
        double d = Eval(a[1], c).number;
        r.number = d == 0 ? 0 : Eval(a[0], c).number / d;
        return r;
    }
    case Op::Negate: r.number = -Eval(a[0], c).number; return r;
    case Op::Dtos: r.text = DtosFromDate(Eval(a[0], c).date); return r;
    case Op::Dtoc: r.text = DtocFromDate(Eval(a[0], c).date, *c.settings); return r;
    case Op::Ctod: r.date = DateFromDtoc(Eval(a[0], c).text, *c.settings); return r;
    case Op::Date: r.date = Today(); return r;
    case Op::Upper: {
        const Value& x = Eval(a[0], c);
        r.text.resize(x.text.size());
        for (size_t i = 0; i < x.text.size(); ++i) {
            unsigned char ch = x.text[i];
            r.text[i] = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
        }
        return r;
    }
    case Op::Alltrim:
        r.text = Eval(a[0], c).text;
        TrimRight(r.text);
        TrimLeft(r.text);
        return r;
    case Op::Ltrim:
        r.text = Eval(a[0], c).text;
        TrimLeft(r.text);
        return r;
    case Op::Trim:
        r.text = Eval(a[0], c).text;
        TrimRight(r.text);
        return r;
    case Op::Substr: {
        const Value& s = Eval(a[0], c);
        double start = Eval(a[1], c).number;
        double length = a.size() > 2 ? Eval(a[2], c).number : 1e9;
        Substring(s.text, start, length, r.text);
        return r;
    }
    case Op::Left: Substring(Eval(a[0], c).text, 1, Eval(a[1], c).number, r.text); return r;
    case Op::Right: {
        const std::string& s = Eval(a[0], c).text;
        long count = ToLong(Eval(a[1], c).number, 0, static_cast<long>(s.size()));
        Substring(s, static_cast<double>(s.size() - count + 1), static_cast<double>(count), r.text);
        return r;
    }
    case Op::Str: {
        double v = Eval(a[0], c).number;
        int width = a.size() > 1 ? static_cast<int>(ToLong(Eval(a[1], c).number, 1, 255)) : 10;
        int decimals = a.size() > 2 ? static_cast<int>(ToLong(Eval(a[2], c).number, 0, 30)) : 0;
        if (!FormatNumber(v, width, decimals, r.text))
            r.text.assign(width, '*');
        return r;
    }
    case Op::Val: {
        r.number = strtod(Eval(a[0], c).text.c_str(), nullptr);
        if (!std::isfinite(r.number))
            r.number = 0;
        return r;
    }
    case Op::Empty: r.logical = EmptyValue(Eval(a[0], c)); return r;
    case Op::Deleted: r.logical = c.record && c.record[0] == '*'; return r;
    case Op::Recno: r.number = c.recno; return r;
    case Op::Iif: {
        const Value& v = Eval(a[0], c).logical ? Eval(a[1], c) : Eval(a[2], c);
        if (&v != &r) {
            r.text = v.text;
            r.number = v.number;
            r.date = v.date;
            r.logical = v.logical;
        }
        return r;
    }
    }
    return r;
}

} // namespace

const Value& Expression::Evaluate(const EvalContext& context) const
{
    // Field reads are refreshed first so that Eval stays free of the field table.
    for (Node* n : fieldNodes_) {
        if (context.record) {
            ReadField(fields_[n->field], context.record, n->result);
        } else {
            n->result = Value();
            n->result.type = n->type;
        }
    }
    return Eval(root_, context);
}

bool Expression::IsTrue(const EvalContext& context) const
{
    const Value& v = Evaluate(context);
    return v.type == 'L' && v.logical;
}

} // namespace zn::xbase
