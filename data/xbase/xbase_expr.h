// xBase expressions: compiled once against a table's fields into a small tree, then evaluated on
// record buffers without further parsing.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xbase_common.h"

namespace zn::xbase {

struct Value {
    char type = 'L'; // C, N, D (julian day, 0 empty), L
    std::string text;
    double number = 0;
    int32_t date = 0;
    bool logical = false;
};

// What an expression reads: the record (deletion flag first) and its number.
struct EvalContext {
    const char* record = nullptr;
    uint32_t recno = 0;
    const Settings* settings = nullptr;
};

class Expression {
public:
    [[nodiscard]] static Err Compile(const std::string& text, const std::vector<Field>& fields,
                                     std::unique_ptr<Expression>& out);

    const std::string& Text() const { return text_; }
    char Type() const;
    // Width of a character result as the fields and literals give it (the key length of a tag).
    int Width() const;
    // A single field name: its index, else -1.
    int SingleField() const;
    // Shapes that index builds and counts handle without walking the tree.
    enum class Shape { Other, TextField, UpperTextField, NotDeleted };
    Shape Form(int& field) const;
    // The conditions a logical expression ANDs together, each in a canonical form (equal forms
    // test the same thing whatever the spelling: letter case, blanks, parentheses, "!" for .NOT.,
    // a double negation). Any other expression: its own canonical form alone.
    std::vector<std::string> Conjuncts() const;
    // Canonical form of the whole expression, and of its negation.
    std::string Canonical() const;
    std::string NegatedCanonical() const;

    // The result stays valid until the next evaluation of this expression.
    const Value& Evaluate(const EvalContext& context) const;
    bool IsTrue(const EvalContext& context) const;

    struct Node;
    ~Expression();

private:
    Expression() = default;
    std::string text_;
    std::vector<Field> fields_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<Node*> fieldNodes_; // read from the record before each evaluation
    Node* root_ = nullptr;
    friend class Parser;
};

// Text of a value as vd_EvalString gives it.
std::string ValueText(const Value& value, const Settings& settings);
// Reads one field of a raw record as a typed value.
void ReadField(const Field& field, const char* record, Value& out);
// Formats a number for a numeric field; false when it does not fit the width.
bool FormatNumber(double value, int width, int decimals, std::string& out);

} // namespace zn::xbase
