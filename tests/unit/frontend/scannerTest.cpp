// Scanner: tokens, literals with their values and errors, identifiers,
// predefined names, comments, line numbers.
#include "frontendTestEnv.h"

#include "frontend/krvScanner.h"
#include "krvGrammar.hpp"

TEST_F(FrontendTest, OperatorsTakeTheLongestMatch)
{
    auto t = scan(">>= >> >= > <<= << <= < ++ += + -- -= - :: : .. . == = != ! && &= & || |= | ^= ^ *= * /= / %= % ~ ? { } [ ] ( ) ; ,");
    std::vector<int> want = {TK_SHR_AS, TK_SHR, TK_GE, '>', TK_SHL_AS, TK_SHL, TK_LE, '<', TK_INC, TK_ADD_AS, '+',
                             TK_DEC, TK_SUB_AS, '-', TK_SCOPE, ':', TK_RANGE, '.', TK_EQ, '=', TK_NE, '!',
                             TK_ANDAND, TK_AND_AS, '&', TK_OROR, TK_OR_AS, '|', TK_XOR_AS, '^', TK_MUL_AS, '*',
                             TK_DIV_AS, '/', TK_MOD_AS, '%', '~', '?', '{', '}', '[', ']', '(', ')', ';', ','};
    ASSERT_EQ(t.size(), want.size());
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(t[i].nCode, want[i]) << "token " << i;
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, KeywordsAndIdentifiers)
{
    auto t = scan("const var void if else while for do goto return continue break eval exit switch case tag "
                  "default namespace struct constant _x9");
    std::vector<int> want = {TK_CONST, TK_VAR, TK_VOID, TK_IF, TK_ELSE, TK_WHILE, TK_FOR, TK_DO, TK_GOTO,
                             TK_RETURN, TK_CONTINUE, TK_BREAK, TK_EVAL, TK_EXIT, TK_SWITCH, TK_CASE, TK_TAG,
                             TK_DEFAULT, TK_NAMESPACE, TK_STRUCT, TK_IDENT, TK_IDENT};
    ASSERT_EQ(t.size(), want.size());
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(t[i].nCode, want[i]) << "token " << i;
    EXPECT_EQ(t[20].sz, "constant");
    EXPECT_EQ(t[21].sz, "_x9");
}

TEST_F(FrontendTest, LongIdentifierIsCut)
{
    std::string id(200, 'b');
    auto t = scan(id.c_str());
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].sz, std::string(125, 'b') + "...");
    std::string id127(127, 'c');
    t = scan(id127.c_str());
    EXPECT_EQ(t[0].sz, id127);
    std::string id128(128, 'd');
    t = scan(id128.c_str());
    EXPECT_EQ(t[0].sz, std::string(125, 'd') + "...");
}

TEST_F(FrontendTest, IntegerConstants)
{
    auto t = scan("0x1F 0Xff 123 0 18446744073709551617");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].n, 31);
    EXPECT_EQ(t[1].n, 255);
    EXPECT_EQ(t[2].n, 123);
    EXPECT_EQ(t[3].n, 0);
    EXPECT_EQ(t[4].n, 1);   // no overflow check: the value wraps
    for (auto &k : t)
        EXPECT_EQ(k.nCode, TK_INT);
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, LetterAfterNumberIsReportedAndConsumed)
{
    auto t = scan("0x1G 12z;");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].nCode, TK_INT);
    EXPECT_EQ(t[0].n, 1);
    EXPECT_EQ(t[1].n, 12);
    EXPECT_EQ(t[2].nCode, ';');
    EXPECT_EQ(output(), "Error P201: t.krv line 1: illegal character \"G\" after a number\n"
                        "Error P201: t.krv line 1: illegal character \"z\" after a number\n");
    EXPECT_EQ(krvGetLastDiagId(), 201);
}

TEST_F(FrontendTest, FloatingConstantsAndRanges)
{
    auto t = scan("1.5 2. 3.25f 1..5");
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0].nCode, TK_FLOAT);
    EXPECT_DOUBLE_EQ(t[0].d, 1.5);
    EXPECT_EQ(t[1].nCode, TK_FLOAT);
    EXPECT_DOUBLE_EQ(t[1].d, 2.0);
    EXPECT_EQ(t[2].nCode, TK_FLOAT);
    EXPECT_DOUBLE_EQ(t[2].d, 3.25);
    EXPECT_EQ(t[3].nCode, TK_INT);
    EXPECT_EQ(t[4].nCode, TK_RANGE);
    EXPECT_EQ(t[5].nCode, TK_INT);
    EXPECT_EQ(t[5].n, 5);
}

TEST_F(FrontendTest, CharacterConstants)
{
    auto t = scan("'a' '\\n' '\\101' '\\\"' '\\'' '\\?' '\\\\' '\\a' '\\b' '\\e' '\\f' '\\r' '\\t' '\\v' '\\255' '\\0'");
    std::vector<int64_t> want = {97, 10, 101, 34, 39, 63, 92, 7, 8, 27, 12, 13, 9, 11, 255, 0};
    ASSERT_EQ(t.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(t[i].nCode, TK_INT);
        EXPECT_EQ(t[i].n, want[i]) << "constant " << i;
    }
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, CharacterConstantErrorsStillGiveAToken)
{
    auto t = scan("'\\300' '\\q' 'ab' ''\n'x");
    ASSERT_EQ(t.size(), 5u);
    for (auto &k : t)
        EXPECT_EQ(k.nCode, TK_INT);
    EXPECT_EQ(output(), "Error P106: t.krv line 1: Incorrect character literal value '\\300'\n"
                        "Error P106: t.krv line 1: Incorrect character literal format '\\q'\n"
                        "Error P106: t.krv line 1: Incorrect character literal format 'ab'\n"
                        "Error P106: t.krv line 1: Incorrect character literal format ''\n"
                        "Error P105: t.krv line 2: Incomplete character literal 'x\n");
}

TEST_F(FrontendTest, StringEscapes)
{
    auto t = scan("\"a\\\"b\" \"a\\qb\" \"\\\\\" \"n\\nt\\tr\\r\" \"join \\\ned\"");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].sz, "a\"b");
    EXPECT_EQ(t[1].sz, "a\\qb");
    EXPECT_EQ(t[2].sz, "\\");
    EXPECT_EQ(t[3].sz, "n\nt\tr\r");
    EXPECT_EQ(t[4].sz, "join ed");
    EXPECT_EQ(t[4].nLine, 2);
    for (auto &k : t)
        EXPECT_EQ(k.nCode, TK_STRING);
}

TEST_F(FrontendTest, IncompleteStringIsDroppedAndScanningGoesOn)
{
    auto t = scan("x \"abcdefghijklmnopqrstuvwxyz0123456789ABC\ny \"tiny\nz");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].sz, "x");
    EXPECT_EQ(t[1].sz, "y");
    EXPECT_EQ(t[2].sz, "z");
    EXPECT_EQ(t[2].nLine, 3);
    EXPECT_EQ(output(), "Error P104: t.krv line 1: incomplete string \"abcdef...789ABC\n"
                        "Error P104: t.krv line 2: incomplete string \"tiny\n");
}

TEST_F(FrontendTest, DollarNames)
{
    auto t = scan("$0 $1abc_2 $x");
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[0].nCode, TK_DOLLAR);
    EXPECT_EQ(t[0].sz, "$0");
    EXPECT_EQ(t[1].sz, "$1abc_2");
    EXPECT_EQ(t[2].nCode, TK_BADCHAR);   // '$' without a digit starts no token
}

TEST_F(FrontendTest, UnknownCharacterIsABadToken)
{
    auto t = scan("a @ b");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1].nCode, TK_BADCHAR);
    EXPECT_EQ(t[2].sz, "b");
}

TEST_F(FrontendTest, PredefinedNames)
{
    auto t = scan("\n__LINE__ __FILE__ __PATH__ __FUNCTION__", "/tmp/frontend_test/sub/p.krv");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].nCode, TK_INT);
    EXPECT_EQ(t[0].n, 2);
    EXPECT_EQ(t[1].sz, "p.krv");
    EXPECT_EQ(t[2].sz, "/tmp/frontend_test/sub");
    EXPECT_EQ(t[3].nCode, TK_STRING);
    EXPECT_EQ(t[3].sz, "");
}

TEST_F(FrontendTest, FunctionNameInsideADefinition)
{
    // __FUNCTION__ is the function being defined; parsed for real so that the
    // parser sets and clears the name.
    krvEnv_t *pEnv = parse("const A = 1;\nf() { return __FUNCTION__; }\nmain() { }\n");
    ASSERT_NE(pEnv, nullptr);
    krvFuncInfo_t *pF = krvFindUsrFunc(krvGlobalNs(), "f");
    ASSERT_NE(pF, nullptr);
    krvAPTN_t *pRet = pF->pBody;
    ASSERT_EQ(pRet->nKind, krvAPTNType_returnStmt);
    ASSERT_EQ(pRet->u.exprStmt.pExpr->nKind, krvAPTNType_strConst);
    EXPECT_STREQ(pRet->u.exprStmt.pExpr->u.szStrConst, "f");
}

TEST_F(FrontendTest, CommentsAndLineNumbers)
{
    auto t = scan("a // x \\\n still comment\nb /* c\n d */ e\r\n/* open at the end");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].sz, "a");
    EXPECT_EQ(t[1].sz, "b");
    EXPECT_EQ(t[1].nLine, 3);
    EXPECT_EQ(t[2].sz, "e");
    EXPECT_EQ(t[2].nLine, 4);
    // A comment still open at the end of the input is reported where it opened.
    EXPECT_EQ(output(), "Error P107: t.krv line 5: unterminated comment\n");
}

TEST_F(FrontendTest, LongMemoryLineArrivesInPieces)
{
    std::string text(5000, ' ');
    text[10] = 'a';
    text[4500] = 'b';
    auto t = scan(text.c_str());
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].nLine, 1);
    EXPECT_EQ(t[1].nLine, 2);
}
