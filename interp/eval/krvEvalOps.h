// The operations of the evaluator. Preparation gives every node of a
// resolved function the one operation that evaluates it (nEvalKind), chosen
// from the node's kind and what resolution and layout settled about it, so
// that at run time each operation has exactly one path.
#pragma once
#include <cstdint>

enum krvEvalOp_t : uint8_t {
    KRV_EOP_NONE = 0,        // not evaluable (sub-range, function name, unprepared)
    // values
    KRV_EOP_INT,             // integer literal
    KRV_EOP_FLOAT,           // floating literal
    KRV_EOP_STR,             // string literal
    KRV_EOP_CONST,           // named constant
    KRV_EOP_LOCAL,           // elementary local or parameter (by value or by reference); nEvalArg = frame slot
    KRV_EOP_GLOBAL,          // elementary namespace variable
    KRV_EOP_OBJ_MEMBER,      // elementary member of a member function's object; nEvalArg = object slot
    KRV_EOP_ELEM,            // one index into a one-dimensional array, then at most one member
    KRV_EOP_REF,             // any other reference: the general locator
    // operators
    KRV_EOP_UNARY,           // + - ! ~
    KRV_EOP_BINARY,          // arithmetic, ordering, integer and equality groups: one operation
                             // per operator code, KRV_EOP_BINARY + (code - KRV_OP_MUL)
    KRV_EOP_BINARY_LAST = KRV_EOP_BINARY + 16,
    KRV_EOP_INT_TREE,        // an operator over integer trees (see krvEvalIntTree); nEvalArg = its
                             // integer function; krvEvalOpKind gives its general operation
    KRV_EOP_AND,             // &&
    KRV_EOP_OR,              // ||
    KRV_EOP_COND,            // ? :
    KRV_EOP_ASSIGN,          // =
    KRV_EOP_ASSIGN_INT,      // = of a node that krvEvalIntNode reads (KRV_EF_INT)
    KRV_EOP_APPEND_LOCAL,    // s = s + x and s += x of an elementary local s and a pure x that is
                             // not an integer node; nEvalArg = its slot
    KRV_EOP_COMPOUND,        // compound assignments
    KRV_EOP_INCDEC,          // ++ and --
    KRV_EOP_INCDEC_LOCAL,    // the same on an elementary local; nEvalArg = its frame slot
    KRV_EOP_UPDATE_LOCAL,    // a compound assignment of an integer tree (or literal, or local) to an
                             // elementary local; nEvalArg = its frame slot
    KRV_EOP_BAD_UPDATE,      // an assignment resolution left unbound, or an unknown code: reported
    KRV_EOP_LIST,            // expression list
    // calls
    KRV_EOP_USR_CALL,
    KRV_EOP_BUILTIN_CALL,
    KRV_EOP_EXT_CALL,
    // statements
    KRV_EOP_EXPR_STMT,
    KRV_EOP_NULL_STMT,
    KRV_EOP_BREAK,
    KRV_EOP_CONTINUE,
    KRV_EOP_GOTO,
    KRV_EOP_RETURN,
    KRV_EOP_IF,
    KRV_EOP_WHILE,
    KRV_EOP_DO,
    KRV_EOP_FOR,
    KRV_EOP_SWITCH,
    KRV_EOP_BLOCK,
    KRV_EOP_EVAL,
    KRV_EOP_EXIT,
    KRV_EOP_COUNT
};

// nEvalFlags.
#define KRV_EF_PURE 0x01      // evaluating the node changes nothing (no assignment, no call)
#define KRV_EF_OPD2_PURE 0x02 // binary operators: operand 2 is pure, operand 1 may be read in place
#define KRV_EF_VOID 0x08      // assignments: the value is never read (the statement after it
                              // writes the result cell first)
#define KRV_EF_INT 0x04       // krvEvalIntNode reads the node (a literal, constant, elementary
                              // variable, element or integer tree)
