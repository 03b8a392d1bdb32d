// Whole scripts through the run sequence: limits that must end a task
// cleanly, frames whose slots change shape between calls, views of views,
// strings that alias their own operands, and goto searches that restart.
#include <gtest/gtest.h>

#include "evalHarness.h"

TEST(EvalRun, EvaluationStackLimitEndsTheRun)
{
    // 200 locals a frame: the slot limit comes before the call-depth limit.
    std::string s = "big(n) { var ";
    for (int i = 0; i < 200; i++)
        s += (i ? ", v" : "v") + std::to_string(i);
    s += "; if (n > 0) big(n - 1); return n; }\nmain() { print(\"go\\n\"); big(100000); print(\"not reached\\n\"); }\n";
    std::string out = runScript(s);
    EXPECT_NE(out.find("go\n"), std::string::npos);
    EXPECT_NE(out.find("Error R215: t.krv line 1: Evaluation stack overflow"), std::string::npos) << out;
    EXPECT_EQ(out.find("not reached"), std::string::npos);
}

TEST(EvalRun, CallDepthLimitEndsTheRunAndTheNextRunWorks)
{
    std::string out = runScript("f(n) { return f(n + 1); }\nmain() { f(0); print(\"no\"); }\n");
    EXPECT_NE(out.find("Error R215: t.krv line 1: Too deep function calls"), std::string::npos) << out;
    EXPECT_EQ(out.find("no"), std::string::npos);
    EXPECT_EQ(runScript("main() { print(\"again\"); }\n"), "again");
}

TEST(EvalRun, SlotsChangeShapeBetweenCalls)
{
    const char *szScript =
        "struct S { var a; var b; };\n"
        "arr() { var x[3]; x[2] = \"s\"; return x[2]; }\n"
        "elem() { var y; return y; }\n"
        "st() { struct S z; z.b = 4; return z.b; }\n"
        "ref(&r) { r = 9; }\n"
        "val(v) { return v; }\n"
        "main() { var k = 1;\n"
        "  print(arr(), elem(), st(), elem(), arr());\n"
        "  ref(k); print(val(3), k, val(\"x\"));\n"
        "}\n";
    // elem() never inherits the array or structure cells of the slot.
    EXPECT_EQ(runScript(szScript), "s040s39x");
}

TEST(EvalRun, ViewsOfViewsWriteThrough)
{
    const char *szScript =
        "var m[4][4];\n"
        "c(&v[][]) { v[0][0] = 1; v[1][1] = 2; }\n"
        "b(&v[][]) { c(v[1..2][1..2]); }\n"
        "a(&v[][]) { b(v[1..3][1..3]); }\n"
        "main() { var i, j; a(m);\n"
        "  for (i = 0; i < 4; i++) for (j = 0; j < 4; j++) if (m[i][j]) print(i, j, \"=\", m[i][j], \" \");\n"
        "}\n";
    EXPECT_EQ(runScript(szScript), "22=1 33=2 ");
}

TEST(EvalRun, StringsThatAliasTheirOperands)
{
    const char *szScript =
        "main() { var s = \"ab\", t, u[2];\n"
        "  s = s + s; print(s, \" \");\n"
        "  s += s; print(s, \" \");\n"
        "  t = s; t += \"!\"; print(s, \" \", t, \" \");\n"
        "  u[0] = \"long string that needs more room\"; u[1] = u[0]; u[0] = \"x\"; print(u[1], \" \", u[0], \" \");\n"
        "  s = \"\"; s = s + \"y\"; print(s);\n"
        "}\n";
    EXPECT_EQ(runScript(szScript),
              "abab abababab abababab abababab! long string that needs more room x y");
}

TEST(EvalRun, OperandOneIsReadBeforeOperandTwoRuns)
{
    const char *szScript =
        "var g = 1;\n"
        "bump() { g = 100; return 1; }\n"
        "main() { var x = 5; print(g + bump(), \" \", (x = 2) + x, \" \", x + (x = 7)); }\n";
    EXPECT_EQ(runScript(szScript), "2 4 9");
}

TEST(EvalRun, NestedGotosRestartTheSearch)
{
    const char *szScript =
        "main() { var i = 0, n = 0;\n"
        "  goto a;\n"
        "  while (1) {\n"
        "    tag a: n++;\n"
        "    if (n < 3) goto b;\n"
        "    break;\n"
        "    tag b: print(\"b\", n, \" \");\n"
        "  }\n"
        "  print(\"n=\", n);\n"
        "}\n";
    EXPECT_EQ(runScript(szScript), "b1 b2 n=3");
}

TEST(EvalRun, MainResultAndArguments)
{
    EXPECT_EQ(runScript("main(argc, argv[]) { print(argc, argv[1], argv[2]); return \"a string result\"; }\n",
                        {"x", "y"}),
              "3xy");
}

TEST(EvalRun, RunTimeErrorInsideNestedCallsStopsEverything)
{
    std::string out = runScript("g(a[]) { return a[3]; }\nf(a[]) { return g(a) + 1; }\n"
                                "main() { var v[3]; print(\"x\"); print(f(v)); print(\"y\"); }\n");
    EXPECT_EQ(out, "xError R205: t.krv line 1: the 0-th array index 3 is out of 0 ~ 2\n");
}
