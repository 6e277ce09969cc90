// The language, statement by statement: script text in, text transcript out,
// against the echo plug-in; and what the end-to-end transcripts cannot show:
// the arguments a command receives, the status prints kept with a statement,
// the built-ins' argument checks, streaming and the limits.
#include "Options.h"
#include "Transcript.h"

#include <mel/Memory.h>
#include <session/Session.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

using EditorLine = mel::Line;
using host::LineKind;

class SessionWithEcho : public testing::Test {
protected:
    void SetUp() override
    {
        std::vector<EditorLine> lines;
        const host::PluginLoader::LoadOutcome load = session.loadPlugin(ECHO_PLUGIN, lines);
        ASSERT_TRUE(load.status) << load.error;
        EXPECT_TRUE(lines.empty());
    }

    std::vector<mel::StatementOutcome> runScript(const std::string& text)
    {
        std::vector<mel::StatementOutcome> outcomes;
        session.runScript(
            text, true, [&outcomes](const mel::StatementOutcome& outcome) { outcomes.push_back(outcome); });
        return outcomes;
    }

    host::Session session;
};

TEST_F(SessionWithEcho, PassesUnquotedArgumentsToTheCommand)
{
    const auto outcomes = runScript(R"(echoStrings -f "a\tb" "" "c;d" -5)");
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].command, "echoStrings");
    EXPECT_EQ(outcomes[0].status, MS::kSuccess);
    EXPECT_EQ(
        outcomes[0].result, host::CommandResult(std::vector<std::string> { "-f", "a\tb", "", "c;d", "-5" }));
}

TEST_F(SessionWithEcho, KeepsEachStatementsLinesApartWithItsStatusPrints)
{
    const auto outcomes = runScript("echoMessages; echoNothing");
    ASSERT_EQ(outcomes.size(), 2u);
    const std::vector<EditorLine> expected = {
        { LineKind::Info, "echoMessages: some information" },
        { LineKind::Warning, "echoMessages: a warning" },
        { LineKind::Error, "echoMessages: an error" },
        { LineKind::StatusPrint, "echoMessages: Unexpected Internal Failure" },
    };
    EXPECT_EQ(outcomes[0].lines, expected);
    EXPECT_TRUE(outcomes[1].lines.empty());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(outcomes[1].result));
}

TEST_F(SessionWithEcho, TimesStatementsOnlyWhenAsked)
{
    const auto untimed = runScript("echoInt 1; loadPlugin");
    ASSERT_EQ(untimed.size(), 2u);
    EXPECT_FALSE(untimed[0].milliseconds.has_value());
    EXPECT_FALSE(untimed[1].milliseconds.has_value());

    session.interpreter().timeStatements(true);
    const auto timed = runScript("echoInt 1; loadPlugin; unknownCommand");
    ASSERT_EQ(timed.size(), 3u);
    for (const mel::StatementOutcome& outcome : timed) {
        ASSERT_TRUE(outcome.milliseconds.has_value()) << outcome.command;
        EXPECT_GE(*outcome.milliseconds, 0.0) << outcome.command;
    }
}

// Everything a run of `text` printed, as the text transcript.
std::string transcriptOf(host::Session& session, const std::string& text, bool keepGoing = true)
{
    std::string transcript;
    session.runScript(text, keepGoing,
        [&transcript](const mel::StatementOutcome& outcome) { hostbatch::appendText(transcript, outcome); });
    return transcript;
}

struct LanguageCase {
    const char* name;
    std::string script;
    std::string transcript;
};

std::ostream& operator<<(std::ostream& out, const LanguageCase& languageCase)
{
    return out << languageCase.name;
}

class Language : public SessionWithEcho, public testing::WithParamInterface<LanguageCase> { };

TEST_P(Language, PrintsTheExpectedTranscript)
{
    EXPECT_EQ(transcriptOf(session, GetParam().script), GetParam().transcript) << GetParam().script;
}

INSTANTIATE_TEST_SUITE_P(Statements, Language,
    testing::Values(LanguageCase { "commandSpansLines", "echoStrings a\n  b;\necho\nInt 1",
                        "// Result: a b //\n// Error: Cannot find procedure "
                        "\"echo\". //\n" },
        LanguageCase {
            "lastStatementWithoutSemicolon", "echoInt 1; echoInt 2", "// Result: 1 //\n// Result: 2 //\n" },
        LanguageCase {
            "declarationsShowNothing", "int $w = 5; float $f; string $s = \"x\"; int $a[] = {1, 2};", "" },
        LanguageCase { "printAsIs", "print \"a\"; print (\"b\" + 1 + \"\\n\"); print(2.5);", "ab1\n2.5" },
        LanguageCase { "printArrayOnePerLine", "string $n[] = {\"x\", \"y\"}; print $n;", "x\ny\n" },
        LanguageCase { "intPromotion", "print (7 / 2 + \" \" + 7 / 2.0 + \" \" + 7 % 3 + \" \" + -7 / 2);",
            "3 3.5 1 -3" },
        LanguageCase { "intsWrapAndCompare",
            "int $m = 2147483647; $m++; int $n = -7;\n"
            "print ($m + \" \" + ($m - 1) + \" \" + 2 * 1073741824 + "
            "\" \" + $n % 3 + \" \" + ($n < 3) + ($n "
            ">= -7) + ($n != $n));",
            "-2147483648 2147483647 -2147483648 -1 110" },
        LanguageCase { "intsKeepTheirTargetsType",
            "float $f; $f = 3; int $c = 5; $c -= 2; $c *= 3; $c /= 2; "
            "string $s = \"n\"; $s = 4 + 1; int $d "
            "= 2;\n"
            "print ($f / 2 + \" \" + $c + \" \" + $s + \" \" + ($d = "
            "7) + \" \" + (((($d + 1) * 3) - 4) % 5) "
            "+ \" \" + ($s + $d) + \" \" + $d++ + ++$d);",
            "1.5 4 5 7 0 57 79" },
        LanguageCase { "hexadecimalInts", "print (0x1F + 0XfF + \" \" + 0xFFFFFFFF + \" \" + 0x100000000);",
            "286 -1 4.29497e+09" },
        LanguageCase { "floatsAsPercentG", "print (2.5 + \" \" + 1.0 / 3 + \" \" + 1e10 + \" \" + 3.0);",
            "2.5 0.333333 1e+10 3" },
        LanguageCase {
            "nanHasNoSign", "print (-(0.0 / 0) + \" \" + 0.0 / 0 + \" \" + -1 / 0.0);", "nan nan -inf" },
        LanguageCase { "appendsInPlace",
            "string $s = \"a\"; $s += 1; $s += $s; int $a[]; "
            "$a[size($a)] = 5; $a[size($a)] = 6; print ($s + "
            "\" \" + size($a) + $a[1]);",
            "a1a1 26" },
        LanguageCase { "declarationHidesAVariableReadBefore",
            "int $x = 1; { for ($k = 0; $k < 3; $k++) if ($k == 1) "
            "int $x = 7; else print ($x + \" \"); } "
            "print $x;",
            "1 7 1" },
        LanguageCase { "longChainIsNoNesting",
            "print (" +
                [] {
                    std::string chain = "1";
                    for (int i = 1; i < 5000; ++i)
                        chain += i % 2 ? " + 2" : " - 1";
                    return chain;
                }()
                + ");",
            "2502" },
        LanguageCase { "casts",
            "float $f = -2.7; string $s = \"3.5kg\"; int $i = 7; "
            "print ((int) $f + \" \" + (float) $s * 2 + "
            "\" \" + "
            "size((string) $i + 1) + \" \" + (int) \"12\" / 5);",
            "-2 7 2 2" },
        LanguageCase { "castsInCommandArguments",
            "float $f = -2.7; string $s = \"3.5kg\"; int $i = 7; "
            "print (int) $f; print (float) $s;\n"
            "echoStrings (string) $i (int) (2.5 * 3) (float) \"x\";",
            "-23.5// Result: 7 7 0 //\n" },
        LanguageCase { "castWithNothingToCast", "print (int);",
            "// Error: line 1.12: expected a command argument to "
            "cast, found ';' //\n" },
        LanguageCase { "castOfAnArray", "int $a[] = {1}; print ((string) $a);",
            "// Error: line 1: cannot cast an int[] to string //\n" },
        LanguageCase { "vectorLiteralAndPrint",
            "vector $v = <<1, 2.5, -1>>; float $x = 2; print $v; "
            "print \" \"; print <<$x, 3 * 2, -$x>>;",
            "1 2.5 -1 2 6 -2" },
        LanguageCase { "vectorComponents",
            "vector $v = <<1, 2, 3>>; $v = <<$v.x, 5, $v.z>>; print "
            "($v.x + $v.y * $v.z + \" \" + $v);",
            "16 1 5 3" },
        LanguageCase { "vectorComponentsOnlyInExpressions", "string $n = \"a\"; echoStrings $n.png;",
            "// Result: a .png //\n" },
        LanguageCase { "vectorComponentIsReadOnly", "vector $v;\n$v.x = 1;",
            "// Error: line 2.6: a vector's component is read only: "
            "assign the whole vector //\n" },
        LanguageCase { "vectorAddSubtract",
            "vector $a = <<1, 2, 3>>; vector $b = <<0.5, 1, -1>>; "
            "print (($a + $b) + \",\" + ($a - $b) + "
            "\",\" "
            "+ ($a + 1));",
            "1.5 3 2,0.5 1 4,2 3 4" },
        LanguageCase { "vectorDotAndScale",
            "vector $a = <<1, 2, 3>>; print (($a * <<4, 5, 6>>) + "
            "\",\" + ($a * 2) + \",\" + (0.5 * $a) + "
            "\",\" "
            "+ ($a / 2) + \",\" + -$a + \",\" + ($a == <<1, 2, 3>>) + "
            "($a != <<1, 2, 3>>));",
            "32,2 4 6,0.5 1 1.5,0.5 1 1.5,-1 -2 -3,10" },
        LanguageCase { "vectorConversions",
            "vector $v = 2; string $s = <<1, 2, 3>>; vector $t = \"4 "
            "5 6\"; float $f = <<3, 4, 0>>; print "
            "($v "
            "+ \",\" + $s + \",\" + $t + \",\" + $f);",
            "2 2 2,1 2 3,4 5 6,5" },
        LanguageCase { "vectorArrays",
            "vector $a[] = {<<1, 2, 3>>, 4}; $a[3] = <<0, 0, 1>>; "
            "print ($a[1].y + \" \" + size($a) + \" \" "
            "+ "
            "$a[2] + \"|\"); print $a;",
            "4 4 0 0 0|1 2 3\n4 4 4\n0 0 0\n0 0 1\n" },
        LanguageCase { "vectorFromAnArray", "int $a[] = {1, 2, 3}; vector $v = $a;",
            "// Error: line 1: cannot initialise $v, a vector, with "
            "an int[] //\n" },
        LanguageCase { "vectorCrossProduct", "vector $a = <<2, 2, 2>>; print ($a ^ <<2, 4, 6>>);", "4 -8 4" },
        LanguageCase { "crossOfTwoVectorsOnly", "print (<<1, 0, 0>> ^ 2);",
            "// Error: line 1: ^ is the cross product of two vectors, "
            "not of a vector and an int //\n" },
        LanguageCase { "vectorsCompareByLength",
            "print ((<<3, 4, 0>> > <<1, 1, 1>>) + \" \" + (<<3, 4, "
            "0>> < 5) + \" \" + (<<0, 0, 5>> >= <<3, "
            "4, "
            "0>>)); if (<<0, 0, 1>>) print \" t\"; if (<<0, 0, 0>>) "
            "print \" f\";",
            "1 0 1 t" },
        LanguageCase { "vectorRemainder", "vector $v; print ($v % 2);",
            "// Error: line 1: no % between a vector and an int //\n" },
        LanguageCase { "comparisonsBesideVectorBrackets",
            "int $a = 1; int $b = 2; if ($a<$b) print \"lt\"; if "
            "($a<-$b) print \"no\"; if ($b>-$a) print \" "
            "gt\";",
            "lt gt" },
        LanguageCase { "arraysByReference",
            "proc fill(string $names[], int $n) { for ($i = 0; $i < "
            "$n; $i++) $names[size($names)] = \"n\" + "
            "$i; } "
            "proc int count(int $a[], int $b[]) { $a[0] = 9; return "
            "size($b); } string $got[]; fill($got, "
            "2); "
            "fill $got 1; int $x[] = {1, 2}; int $c = count($x, $x); "
            "float $f[] = {0.5}; fill({\"a\"}, 1); "
            "print ($got[0] + $got[1] + $got[2] + \" \" + size($got) "
            "+ \" \" + $c + $x[0]);",
            "n0n1n0 3 29" },
        LanguageCase { "conversions",
            "int $i = 2.9; int $j = -2.9; string $s = 5; float $f = "
            "\"2.5kg\"; int $n = \"abc\"; print ($i + "
            "\" \" + $j + \" \" + $s + \" \" + $f + \" \" + $n);",
            "2 -2 5 2.5 0" },
        LanguageCase { "compoundAssignment",
            "int $a = 10; $a += 5; $a -= 3; $a *= 2; $a /= 5; $a++; "
            "++$a; $a--; print $a;",
            "5" },
        LanguageCase { "stepValues",
            "int $a = 1; int $b = $a++; int $c = ++$a; print ($a + \" "
            "\" + $b + \" \" + $c);",
            "3 1 3" },
        LanguageCase { "comparisonsAndLogic",
            "print ((1 < 2) + \" \" + (2 <= 1) + \" \" + (\"a\" == "
            "\"a\") + \" \" + (1 != 1.0) + \" \" + (1 "
            "&& 0) + \" \" + (0 || 2) + \" \" + !0 + \" \" + (1 ? "
            "\"y\" : \"n\"));",
            "1 0 1 0 0 1 1 y" },
        LanguageCase {
            "shortCircuit", "int $a = 0; if (0 && $a++) print \"no\"; if (1 || $a++) print $a;", "0" },
        LanguageCase { "arrayGrowsOnWrite",
            "int $a[]; $a[3] = 7; print (size($a) + \" \" + $a[0] + "
            "\" \" + $a[3] + \" \" + $a[9]);",
            "4 0 7 0" },
        LanguageCase { "arrayLiteralTypes",
            "float $f[] = {1, 2.5}; string $s[] = {1, \"b\"}; print "
            "($f[0] + $f[1] + \" \" + $s[0] + $s[1]);",
            "3.5 1b" },
        LanguageCase { "clearAndSize",
            "int $a[] = {1, 2, 3}; clear($a); print (size($a) + \" \" "
            "+ size(\"four\"));",
            "0 4" },
        LanguageCase {
            "undeclaredAssignmentDeclares", "$x = 2.5; $x = 3; $s = \"t\"; print ($x + $s);", "3t" },
        LanguageCase { "blockScope",
            "int $a = 1; { int $a = 2; int $b = 3; print $a; } print "
            "$a; print $b;",
            "21// Error: line 1: $b is not declared //\n" },
        LanguageCase { "ifElseChain",
            "int $v = 2; if ($v == 1) print \"one\"; else if ($v == "
            "2) print \"two\"; else print \"many\";",
            "two" },
        LanguageCase { "whileBreakContinue",
            "int $i = 0; while (1) { $i++; if ($i == 2) continue; if "
            "($i > 4) break; print $i; }",
            "134" },
        LanguageCase { "doWhileRunsOnce", "int $i = 5; do { print $i; $i++; } while ($i < 3);", "5" },
        LanguageCase { "forLoop",
            "for ($i = 0; $i < 3; $i++) print $i; int $k; for (; $k < "
            "2;) $k++; print $k;",
            "0122" },
        LanguageCase { "forIn",
            "string $names[] = {\"a\", \"b\"}; for ($n in $names) "
            "print ($n + \";\");",
            "a;b;" },
        LanguageCase { "switchFallsThrough",
            "switch (2) { case 1: print \"1\"; case 2: print \"2\"; "
            "case 3: print \"3\"; break; default: "
            "print \"d\"; } switch (\"z\") { default: print \"D\"; "
            "case \"a\": print \"A\"; }",
            "23DA" },
        LanguageCase { "procedures",
            "proc int twice(int $n) { return 2 * $n; } proc "
            "greet(string $who) { print (\"hi \" + $who); } "
            "print twice(4); greet \"you\";",
            "8hi you" },
        LanguageCase { "procedureAtTopLevelShowsResult",
            "global proc string[] pair(string $a) { return {$a, $a}; "
            "} pair(\"x\"); pair x;",
            "// Result: x x //\n// Result: x x //\n" },
        LanguageCase { "recursion",
            "proc int fact(int $n) { if ($n <= 1) return 1; return $n "
            "* fact($n - 1); } print fact(10);",
            "3628800" },
        LanguageCase {
            "procedureUsedBeforeItsDefinition", "print (later()); proc int later() { return 3; }", "3" },
        LanguageCase { "procedureSeesGlobalsOnlyWhenDeclared",
            "global int $g = 4; int $t = 1; proc show() { global int "
            "$g; print $g; print $t; } show;",
            "4// Error: line 1: $t is not declared //\n" },
        LanguageCase { "commandResultsAsValues",
            "int $w = `echoInt 640`; float $d = `echoDouble 0.5`; "
            "string $s = `echoString a b`; int $b = "
            "`echoBool true`; string $none = `echoNothing`; print ($w "
            "+ \" \" + $d + \" \" + $s + \" \" + $b "
            "+ \" [\" + $none + \"]\");",
            "640 0.5 a b 1 []" },
        LanguageCase { "arrayResults",
            "int $r[] = `echoInts 1 2 3`; string $t[] = `echoStrings "
            "x y`; print (size($r) + size($t));",
            "5" },
        LanguageCase { "argumentsFromVariablesAndExpressions",
            "string $dir = \"d/\"; int $n = 3; echoStrings -f $dir "
            "($dir + \"a.png\") $n (1 + 1);",
            "// Result: -f d/ d/a.png 3 2 //\n" },
        LanguageCase { "arrayArgumentsExpand", "int $a[] = {4, 5}; echoInts $a 6 `echoInts 7 8`;",
            "// Result: 4 5 6 7 8 //\n" },
        LanguageCase { "nestedBackquotes", "echoInt `echoInt 9`;", "// Result: 9 //\n" },
        LanguageCase { "commandInsideProcedureShowsNoResult", "proc run() { echoInt 1; echoMessages; } run;",
            "echoMessages: some information\n// Warning: "
            "echoMessages: a warning //\n// Error: echoMessages: "
            "an error //\n" },
        LanguageCase { "builtinsMath",
            "print (abs(-3) + \" \" + abs(-2.5) + \" \" + min(3, 2) + "
            "\" \" + max(1.5, 2) + \" \" + "
            "floor(2.7) + \" \" + ceil(2.1) + \" \" + sqrt(16) + \" "
            "\" + pow(2, 10));",
            "3 2.5 2 2 2 3 4 1024" },
        LanguageCase { "builtinsText",
            "string $p[]; int $n = tokenize(\"a, b,,c\", \", \", $p); "
            "print ($n + \" \" + $p[2] + \" \" + "
            "strlen(\"abc\") + \" \" + substring(\"pictile\", 2, 4) + "
            "\" \" + substring(\"ab\", 2, 9));",
            "3 c 3 ict b" },
        LanguageCase { "catchGoesOn",
            "int $c = catch(`echoMessages`); int $d = catch(`echoInt "
            "1`); print ($c + \" \" + $d);",
            "echoMessages: some information\n// Warning: "
            "echoMessages: a warning //\n// Error: echoMessages: "
            "an error //\n1 0" },
        LanguageCase { "catchRuntimeError", "print catch($nope); print \"on\";",
            "// Error: line 1: $nope is not declared //\n1on" },
        LanguageCase { "errorAndWarning", "warning \"careful\"; { error \"stop\"; print \"not here\"; }",
            "// Warning: careful //\n// Error: stop //\n" },
        LanguageCase { "evalSharesTheSession",
            "int $e = 2; eval \"$e = $e * 21; print $e;\"; int $v = "
            "eval(\"echoInt 5\"); print $v;",
            "425" },
        LanguageCase { "evalSyntaxError", "eval \"print (\";",
            "// Error: line 1: eval: line 1.8: expected an expression, found the end of the script //\n" },
        LanguageCase { "commandWithABracketedFirstArgument",
            R"(string $c = "ball"; echoStrings ($c + ".ty") 0 -flag {"a", "b"};)",
            "// Result: ball.ty 0 -flag a b //\n" },
        LanguageCase { "arrayLiteralAsACommandArgument", R"(string $sl[] = {"x", "y"}; print {$sl[1], "z"};)",
            "y\nz\n" },
        LanguageCase {
            "truthWords", "int $b = off; if (true && !$b) print (true + false + on + off + yes + no);", "3" },
        LanguageCase { "functionStyleConversions",
            R"(print (int(3.67) + " " + float("2.5") * 2 + " " + string(3) + "|" + vector("4 5 6")); print int(-3.9);)",
            "3 5 3|4 5 6-3" },
        LanguageCase { "forHeaderSequences",
            "int $j; for ($i = 0, $j = 9; $i < $j; $i += 3, $j--) print ($i + \",\" + $j + \" \"); print $j;",
            "0,9 3,8 6,7 6" },
        LanguageCase { "pathAfterAVariable", R"(string $g = "grp"; echoStrings $g|child;)",
            "// Result: grp |child //\n" },
        // A command hostbatch does not have fails where it runs, as in the host.
        LanguageCase { "sceneCommandFailsAtRunTime",
            R"(print "a"; polyCube -w 2 -n ("c" + 1) {"x"}; print "b";)",
            "a// Error: Cannot find procedure \"polyCube\". //\nb" },
        // A number word is a number to a built-in and its text to a command.
        LanguageCase { "numberWordsAreNumbers",
            "print 1.50; print \" \"; print -007; echoStrings 1.50 -007 1e3 +2;",
            "1.5 -7// Result: 1.50 -007 1e3 +2 //\n" },
        LanguageCase { "loadPluginTwice", "loadPlugin \"./none.so\";",
            "// Error: Cannot load plug-in \"./none.so\": ./none.so: "
            "cannot open shared object file: No such "
            "file or directory //\n" }),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(RuntimeErrors, Language,
    testing::Values(
        LanguageCase { "undeclaredVariable", "print $nope;", "// Error: line 1: $nope is not declared //\n" },
        LanguageCase { "stringWhereNumberIsNeeded", "string $s = \"a\";\nint $i = $s * 2;",
            "// Error: line 2: a string where a number is needed (*) //\n" },
        LanguageCase {
            "indexBelowZero", "int $a[];\n\n$a[-1] = 2;", "// Error: line 3: index -1 is below 0 //\n" },
        LanguageCase { "wrongArgumentCount", "proc f(int $a) { }\nf(1, 2);",
            "// Error: line 2: f takes 1 argument, not 2 //\n" },
        LanguageCase {
            "builtinArgumentCount", "size();", "// Error: line 1: size takes 1 argument, not 0 //\n" },
        LanguageCase {
            "divisionByZero", "int $z = 0; print (1 / $z);", "// Error: line 1: division by zero //\n" },
        // Compiled code fails where the walk of the tree did: on the line of the
        // failing part, with what ran before it kept.
        LanguageCase { "errorLineInsideACompiledLoop",
            "proc f() {\n  int $a = 1;\n  for ($i = 0; $i < 3; $i++) {\n    print $i;\n    $a = $a / ($i - "
            "1);\n  }\n}\nf();",
            "01// Error: line 5: division by zero //\n" },
        LanguageCase { "globalsKeptWhenAStatementFails",
            "int $g = 0; for ($k = 0; $k < 5; $k++) { $g++; if ($k == 2) $g = $g / 0; }\nprint ($g + \" \" + "
            "$k);",
            "// Error: line 1: division by zero //\n3 2" },
        LanguageCase { "declaredOnSomePathsOnly",
            "proc f(int $c) { if ($c) int $x = 1; print $x; } f(1); f(0);",
            "1// Error: line 1: $x is not declared //\n" },
        LanguageCase { "procedureRedefinedWhileItRuns",
            R"(proc f() { eval "proc f() { print \"new\"; }"; print "old"; } f(); f();)", "oldnew" },
        // A caller compiled for an int result takes what the new procedure returns as an int.
        LanguageCase { "returnTypeChangedWhileACallerRuns",
            R"(proc int n() { return 2; } proc g() { int $t; for ($i = 0; $i < 3; $i++) { $t += n(); if (!$i) eval "proc string n() { return \"5\"; }"; } print $t; } g();)",
            "12" },
        LanguageCase { "returnTypeChangedToAnArray",
            R"(proc int n() { return 2; } proc g() { int $t; for ($i = 0; $i < 3; $i++) { $t += n(); if (!$i) eval "proc string[] n() { return {}; }"; } } g();)",
            "// Error: line 1: n returns a string[], not an int //\n" },
        LanguageCase { "floatProcedureReturnsAnIntExpression",
            "proc float half(int $n) { return $n; } print (half(1) / 2);", "0.5" },
        // 990 frames of 56 registers each: the register stack grows by blocks, and
        // every caller's registers stay as they were across its callee's.
        LanguageCase { "deepRecursionAcrossRegisterBlocks",
            "proc int deep(int $n) { int $a = $n; int $b = $a + 1; int $c = $b + 1; int $d = $c + 1; int $e "
            "= $d + 1; "
            "int $f = $e + 1; int $g = $f + 1; int $h = $g + 1; int $i = $h + 1; int $j = $i + 1; int $k = "
            "$j + 1; "
            "int $l = $k + 1; int $m = $l + 1; int $o = $m + 1; int $p = $o + 1; int $q = $p + 1; if ($n == "
            "0) "
            "return 0; int $r = deep($n - 1); return $r + $q - $a - 14; } print (deep(990));",
            "990" },
        LanguageCase { "wrongArgumentCountFailsEveryTime",
            "proc one(int $a) { } proc loop() { for ($i = 0; $i < 2; $i++) catch(one($i, 1)); } loop();",
            "// Error: line 1: one takes 1 argument, not 2 //\n// Error: line 1: one takes 1 argument, not 2 "
            "//\n" },
        LanguageCase { "evalAndCommandsInsideLoops",
            R"(proc g() { for ($i = 0; $i < 3; $i++) { eval ("print " + $i); echoInt $i; } } g(); for ($j = 0; $j < 2; $j++) eval "print x";)",
            "012xx" },
        LanguageCase { "arrayIntoScalar", "int $i = {1, 2};",
            "// Error: line 1: cannot initialise $i, an int, with an "
            "int[] //\n" },
        LanguageCase { "redeclaredAsAnotherType", "int $x; string $x;",
            "// Error: line 1: $x is already declared as an int //\n" },
        LanguageCase { "breakOutsideLoop", "break;", "// Error: line 1: break outside a loop //\n" },
        LanguageCase { "recursionLimit", "proc f() { f(); } f();",
            "// Error: line 1: procedure calls nest deeper than 1000 "
            "levels //\n" },
        LanguageCase { "failureEndsTheStatementOnly", "{ echoMessages; print \"no\"; } print \"yes\";",
            "echoMessages: some information\n// Warning: "
            "echoMessages: a warning //\n// Error: echoMessages: "
            "an error //\nyes" },
        LanguageCase { "sourceMissingFile", "source \"missing.mel\";",
            "// Error: line 1: cannot read script 'missing.mel': No "
            "such file or directory //\n" },
        LanguageCase { "syntaxErrorRunsNothing", "print \"a\";\nprint (1 +);",
            "// Error: line 2.11: expected an expression, found ')' //\n" }),
    [](const auto& info) { return std::string(info.param.name); });

// The matrix type: a table of floats of a size fixed where it is declared.
INSTANTIATE_TEST_SUITE_P(Matrices, Language,
    testing::Values(
        LanguageCase { "declaredFullOfZeros", "matrix $a3[2][3]; print $a3;", "<<0, 0, 0; 0, 0, 0>>" },
        LanguageCase { "literalShorterThanTheSizeFillsWithZeros",
            "matrix $a3[3][4] = <<2.5, 4.5; 1.12>>; print $a3;",
            "<<2.5, 4.5, 0, 0; 1.12, 0, 0, 0; 0, 0, 0, 0>>" },
        LanguageCase { "literalLargerThanTheSize", "matrix $m[2][2] = <<1, 2, 3; 4, 5, 6>>;",
            "// Error: line 1: cannot initialise $m, a 2x2 matrix, with a 2x3 matrix //\n" },
        LanguageCase { "assignmentKeepsTheSize",
            "matrix $m[2][2] = <<1, 2; 3, 4>>; $m = <<5>>; print $m; matrix $n[2][2] = <<1; 2>>; $n = $m * "
            "2; print $n;",
            "<<5, 0; 0, 0>><<10, 0; 0, 0>>" },
        LanguageCase { "elementsReadAndWritten",
            "matrix $m[4][2]; $m[1][0] = 9; $m[3][1] += 2.5; $m[0][1]++; $m[2][0] = \"1.5x\";\n"
            "print ($m[1][0] + \" \" + $m[3][1] + \" \" + $m[0][1] + \" \" + $m);",
            "9 2.5 1 <<0, 1; 9, 0; 1.5, 0; 0, 2.5>>" },
        LanguageCase { "elementOutsideTheMatrix", "matrix $a3[4][2];\n$a3[4][0] = 7;",
            "// Error: line 2: $a3[4][0] does not exist: $a3 is a 4x2 matrix //\n" },
        LanguageCase { "oneIndexIsNoElement", "matrix $m[2][2]; print $m[1];",
            "// Error: line 1: $m is a matrix: its elements are $m[row][column] //\n" },
        LanguageCase { "twoIndicesOnAnArray", "int $a[] = {1}; print $a[0][0];",
            "// Error: line 1: $a is not a matrix //\n" },
        LanguageCase { "addSubtractNegate",
            "matrix $a[2][2] = <<1, 2; 3, 4>>; matrix $b[2][2] = <<0, 1; 1, 0>>; print (($a + $b) + \" \" + "
            "($a - $b) + \" \" + -$a);",
            "<<1, 3; 4, 4>> <<1, 1; 2, 4>> <<-1, -2; -3, -4>>" },
        LanguageCase { "productAndScaling",
            "matrix $a[2][3] = <<1, 2, 3; 4, 5, 6>>; matrix $b[3][1] = <<1; 0; -1>>; print (($a * $b) + \" "
            "\" + ($a * 2) + \" \" + (0.5 * $a) + \" \" + ($a / 2));",
            "<<-2; -2>> <<2, 4, 6; 8, 10, 12>> <<0.5, 1, 1.5; 2, 2.5, 3>> <<0.5, 1, 1.5; 2, 2.5, 3>>" },
        LanguageCase { "productNeedsColumnsToMatchRows", "matrix $a[2][3]; print ($a * $a);",
            "// Error: line 1: cannot multiply a 2x3 matrix by a 2x3 matrix: the first's columns are not the "
            "second's rows //\n" },
        LanguageCase { "sumNeedsOneSize", "matrix $a[2][3]; matrix $b[3][2]; print ($a + $b);",
            "// Error: line 1: no + between a 2x3 matrix and a 3x2 matrix //\n" },
        LanguageCase { "comparedWhole",
            "matrix $a[2][2] = <<1, 2; 3, 4>>; matrix $b[2][1] = <<1; 3>>; print (($a == <<1, 2; 3, 4>>) + "
            "\" \" + ($a != $a) + \" \" + ($a == $b));",
            "1 0 0" },
        LanguageCase { "noOtherOperators", "matrix $a[2][2]; print ($a % 2); print (2 / $a);",
            "// Error: line 1: no % between a 2x2 matrix and an int //\n// Error: line 1: no / between an "
            "int and a "
            "2x2 matrix //\n" },
        LanguageCase { "noNumberFromAMatrix", "matrix $a[1][1]; if ($a) print 1;",
            "// Error: line 1: a matrix where a number is needed (condition) //\n" },
        LanguageCase { "proceduresTakeAndReturnThem",
            "proc matrix twice(matrix $m) { return $m * 2; } matrix $m[1][2] = <<1, 2>>; print (twice($m) + "
            "\" \" + twice(<<1; 2>>)); twice(<<3>>);",
            "<<2, 4>> <<2; 4>>// Result: <<6>> //\n" },
        LanguageCase { "globalMatrixInAProcedure",
            "global matrix $g[2][2] = <<1, 0; 0, 1>>; proc show() { global matrix $g; print ($g + \" \" + "
            "whatIs(\"$g\")); } show;",
            "<<1, 0; 0, 1>> matrix variable" },
        LanguageCase { "globalMatrixWithoutASizeAnywhere", "proc f() { global matrix $h; } f;",
            "// Error: line 1: global matrix $h has no size yet: declare it first as matrix "
            "$h[rows][columns] //\n" },
        LanguageCase { "noArraysOfMatrices", "matrix $m[1][1]; float $f[] = {1, $m};",
            "// Error: line 1: a matrix inside an array literal: there are no arrays of matrices //\n" },
        LanguageCase {
            "commandArgument", "echoStrings <<1, 2; 3, 4.5>>;", "// Result: <<1, 2; 3, 4.5>> //\n" }),
    [](const auto& info) { return std::string(info.param.name); });

// MEL's conversions, one row each: the type an operator's operands give (the
// guide's table of automatic conversions, with its examples), what assignment
// makes of a value, and the explicit conversions, as casts and in function style.
INSTANTIATE_TEST_SUITE_P(Conversions, Language,
    testing::Values(LanguageCase { "intOperatorFloat",
                        R"($var1 = 7 + 1.3; print ($var1 + " " + whatIs("$var1"));)", "8.3 float variable" },
        LanguageCase { "floatOperatorInt", R"($var2 = 7.9 + 2; print ($var2 + " " + whatIs("$var2"));)",
            "9.9 float variable" },
        LanguageCase { "intOperatorVector",
            R"($var3 = 2 + <<4, 5, 6>>; print ($var3 + " " + whatIs("$var3"));)", "6 7 8 vector variable" },
        LanguageCase { "vectorOperatorFloat",
            R"($race = <<2, 3, 0>> * 0.5; print ($race + " " + whatIs("$race"));)",
            "1 1.5 0 vector variable" },
        LanguageCase { "stringOperatorInt",
            R"($var4 = 0007 + " Lives!"; print ($var4 + "|" + whatIs("$var4") + "|" + ("500" + 5));)",
            "7 Lives!|string variable|5005" },
        LanguageCase {
            "intOperatorIntStaysInt", R"(float $s = 1 / 3; print ($s + " " + 1.0 / 3.0);)", "0 0.333333" },
        LanguageCase { "floatFromVectorIsItsLength", "float $f = <<1, 2, 0>>; print $f;", "2.23607" },
        LanguageCase {
            "floatFromInt", R"(float $f = 1; print ($f / 2 + " " + whatIs("$f"));)", "0.5 float variable" },
        LanguageCase {
            "intFromFloatTruncates", "int $pi = 3.14; int $n = -3.14; print ($pi + \" \" + $n);", "3 -3" },
        LanguageCase { "intFromVectorTruncatesItsLength", "int $temp = <<1, 2, 0>>; print $temp;", "2" },
        LanguageCase {
            "vectorFromANumberRepeatsIt", "vector $speed = 1.34; print $speed;", "1.34 1.34 1.34" },
        LanguageCase { "numberFromStringIsItsLeadingNumber",
            R"(int $i = "12abc"; float $f = " 2.5e1x"; int $z = "x1"; print ($i + " " + $f + " " + $z);)",
            "12 25 0" },
        LanguageCase { "stringFromNumbersAndVectors",
            R"(string $a = 2.50; string $b = <<1, 0.5, 0>>; print ($a + "|" + $b);)", "2.5|1 0.5 0" },
        LanguageCase { "castVectorFromItsText",
            R"($Z = (vector) "<<1, 2, 3>>"; print ($Z + "|" + (vector) " <<4.5,-1>>" + "|" + (vector) "7 8 9" + "|" + (vector) "1,2,3");)",
            "1 2 3|4.5 -1 0|7 8 9|1 2 3" },
        LanguageCase { "castFloatFromInt",
            R"($cools = (float) 7; print ($cools / 2 + " " + whatIs("$cools"));)", "3.5 float variable" },
        LanguageCase { "castStringFromFloat",
            R"($ools = (string) 47.554; print ($ools + " " + whatIs("$ools") + " " + size($ools));)",
            "47.554 string variable 6" },
        LanguageCase { "conversionInFunctionStyle",
            R"($ly = vector("<<1, 2, 3>>"); $ooly = int(3.67); print ($ly + "|" + $ooly + "|" + float("2.5") / 2 + "|" + string(3) + 1);)",
            "1 2 3|3|1.25|31" },
        LanguageCase { "vectorOperatorMatrix",
            R"(matrix $c[3][3] = <<1, 0, 0; 0, 2, 0; 0, 0, 3>>; $v = <<1, 1, 1>> * $c; print ($v + " " + whatIs("$v"));)",
            "1 2 3 vector variable" },
        LanguageCase { "matrixOperatorVector",
            R"(matrix $c[3][3] = <<1, 0, 0; 0, 2, 0; 0, 0, 3>>; $r = $c * <<1, 1, 1>>; print ($r + " " + whatIs("$r"));)",
            "<<1; 2; 3>> matrix variable" },
        LanguageCase { "matrixOperatorString",
            R"(matrix $m[1][2] = <<1, 2.5>>; $s = $m + " end"; print ($s + "|" + whatIs("$s") + "|" + ("<" + $m));)",
            "<<1, 2.5>> end|string variable|<<<1, 2.5>>" },
        LanguageCase {
            "matrixFromAVector", "matrix $m[2][3] = <<1, 2, 3>>; print $m;", "<<1, 2, 3; 0, 0, 0>>" },
        LanguageCase { "vectorFromAMatrixRowOrColumn",
            R"(matrix $r[1][2] = <<1, 2>>; matrix $c[3][1] = <<4; 5; 6>>; vector $a = $r; vector $b = $c; print ($a + "|" + $b);)",
            "1 2 0|4 5 6" },
        LanguageCase { "vectorFromALargerMatrix", "matrix $m[2][2]; vector $v = $m;",
            "// Error: line 1: cannot initialise $v, a vector, with a 2x2 matrix //\n" },
        LanguageCase { "stringFromAMatrix", "string $s = <<1, 2; 3, 4>>; print $s;", "<<1, 2; 3, 4>>" },
        LanguageCase { "noNumberFromAMatrix", "float $f = <<1, 2; 3, 4>>;",
            "// Error: line 1: cannot initialise $f, a float, with a 2x2 matrix //\n" },
        LanguageCase { "arraysConvertElementByElement",
            R"(float $f[] = {1.5, 2.5}; int $i[] = $f; string $s[] = $i; print ($i[1] + 1 + " " + $s[0] + 1);)",
            "3 11" },
        LanguageCase { "noConversionBetweenArrayAndScalar", "int $a[] = {1}; string $s = $a;",
            "// Error: line 1: cannot initialise $s, a string, with an int[] //\n" }),
    [](const auto& info) { return std::string(info.param.name); });

// One row per built-in (or pair of mirror-image built-ins), pure ones here;
// those on files run in a scratch folder below.
INSTANTIATE_TEST_SUITE_P(Builtins, Language,
    testing::Values(
        LanguageCase { "tolowerToupper", R"(print (tolower("AbC") + toupper("aBc"));)", "abcABC" },
        LanguageCase { "strip", R"(print ("[" + strip(" \t a b \n") + "]");)", "[a b]" },
        LanguageCase { "mag", R"(print (mag(<<3, 4, 0>>) + " " + mag(<<1, -2, 2>>));)", "5 3" },
        LanguageCase { "matchGivesTheMatchedText",
            R"(print (match("[0-9]+", "img_042.png") + "|" + match("x", "abc") + "|");)", "042||" },
        LanguageCase { "substituteFirstMatch", R"(print substitute("[0-9]+", "a1b22", "#");)", "a#b22" },
        LanguageCase { "substituteAllString", R"(print substituteAllString("a.b.c", ".", "/");)", "a/b/c" },
        LanguageCase { "gmatch",
            R"(print ("" + gmatch("a.png", "*.png") + gmatch("a.PNG", "*.png") + gmatch("ab", "a?") + gmatch("b7", "[a-c][!0-5]")
    + gmatch("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*b"));)",
            "10110" },
        LanguageCase { "startsWithEndsWith",
            R"(print ("" + startsWith("pictile", "pic") + startsWith("p", "pic") + endsWith("a.iff", ".iff") + endsWith("f", ".iff"));)",
            "1010" },
        LanguageCase { "strcmp",
            R"(print (strcmp("a", "b") + " " + strcmp("b", "b") + " " + strcmp("c", "b"));)", "-1 0 1" },
        LanguageCase { "stringToStringArray",
            R"(string $p[] = stringToStringArray("a, b,,c", ", "); print (size($p) + $p[2]);)", "3c" },
        LanguageCase { "format", R"(print `format -s "a" -stringArg "b" "^2s-^1s ^^ ^3s."`;)", "b-a ^ ." },
        LanguageCase { "sortNumericForNumbers",
            R"(int $n[] = sort({10, 9, 100}); float $f[] = sort({2.5, -1, 10}); string $s[] = sort({"b", "B", "a", "10", "9"});
print (intArrayToString($n, ",") + " " + $f[0] + "," + $f[2] + " " + stringArrayToString($s, ","));)",
            "9,10,100 -1,10 10,9,B,a,b" },
        LanguageCase { "stringArrayCount", R"(print stringArrayCount("a", {"a", "b", "a"});)", "2" },
        LanguageCase { "stringArrayRemoveDuplicatesKeepsFirst",
            R"(print stringArrayToString(stringArrayRemoveDuplicates({"b", "a", "b", "c", "a"}), " ");)",
            "b a c" },
        LanguageCase { "appendStringArrayFillsTheVariable",
            R"(string $to[] = {"a"}; appendStringArray($to, {"b", "c", "d"}, 2); print stringArrayToString($to, "");)",
            "abc" },
        LanguageCase { "arrayFindFromAnIndex",
            R"(print (stringArrayFind("b", 0, {"a", "b", "b"}) + " " + stringArrayFind("b", 2, {"a", "b", "b"}) + " " + intArrayFind(5, 0, {1, 2}));)",
            "1 2 -1" },
        LanguageCase { "truncFmodClamp",
            R"(print (trunc(-2.7) + " " + fmod(7, 3) + " " + clamp(0, 10, 12) + " " + clamp(0, 10, -1));)",
            "-2 1 10 0" },
        LanguageCase { "randFollowsSeed",
            R"({ seed(7); } float $a = rand(10); { seed(7); } float $b = rand(0, 10); print (($a == $b) + " " + ($a >= 0 && $a < 10));)",
            "1 1" },
        LanguageCase { "catchQuietDropsErrorsAndWarnings",
            "print catchQuiet(`echoMessages`); print catchQuiet($nope); print catchQuiet(`warning \"w\"`);",
            "echoMessages: some information\n110" },
        LanguageCase { "exists",
            R"(proc p() { } print ("" + exists("print") + exists("p") + exists("echoInt") + exists("nothing"));)",
            "1110" },
        LanguageCase { "whatIs",
            R"(proc p() { } int $i[]; print (whatIs("print") + "|" + whatIs("p") + "|" + whatIs("$i") + "|" + whatIs("zzz"));)",
            "Command|Mel procedure entered interactively.|int[] "
            "variable|Unknown" },
        LanguageCase { "aboutBatch", R"(print (`about -batch` + " " + `about -os`);)", "1 linux64" },
        LanguageCase { "flagsUnknownOrMissingTheirValue",
            R"(about -nope; getFileList -folder; progressWindow -title "t" -nope;)",
            "// Error: line 1: about: unknown flag '-nope' //\n// Error: line "
            "1: getFileList: -folder needs "
            "a value "
            "//\n// Error: line 1: progressWindow: unknown flag '-nope' //\n" },
        LanguageCase { "getenvPutenv",
            R"(putenv "PICTILE_TEST_VARIABLE" "x"; print (getenv("PICTILE_TEST_VARIABLE") + "[" + getenv("PICTILE_UNSET_VARIABLE") + "]");)",
            "x[]" },
        LanguageCase { "internalVarFolders",
            R"(string $home = getenv("HOME"); putenv "HOME" "/h"; print `internalVar -userScriptDir`; putenv "HOME" $home;)",
            "/h/maya/scripts/" },
        LanguageCase { "systemGivesTheOutput", R"(print system("printf 'a b'; echo c >/dev/null");)", "a b" },
        LanguageCase { "progressWindowSilentWithoutTerminal",
            "progressWindow -title \"t\" -progress 5; progressWindow "
            "-e -step 2; print `progressWindow -q "
            "-progress`; "
            "progressWindow -endProgress;",
            "// Result: 1 //\n// Result: 1 //\n7" },
        LanguageCase { "builtinArgumentRange", "tokenize \"a\";",
            "// Error: line 1: tokenize takes 2 to 3 arguments, not 1 //\n" },
        LanguageCase { "builtinWithoutUpperBound", "eval;",
            "// Error: line 1: eval takes at least 1 argument, not 0 //\n" },
        LanguageCase { "basename",
            R"(print (basename("/usr/people/gamera/gamera.mel", ".mel") + "|" + basename("/usr/people/gamera/gamera.mel", "") + "|" + basename("dir/sub/", "") + "|" + basename(".mel", ".mel") + "|" + basename("/", "") + "|" + basename("", ".x") + "|");)",
            "gamera|gamera.mel|sub|.mel|||" },
        LanguageCase { "basenameEx",
            R"(print (basenameEx("/usr/people/gamera/gamera.mel") + "|" + basenameEx("C:/aw/godzilla/hello.c") + "|" + basenameEx("a.tar.gz") + "|" + basenameEx("dir.d/noext") + "|" + basenameEx("") + "|");)",
            "gamera|hello|a.tar|noext||" },
        LanguageCase { "dirname",
            R"(print (dirname("/usr/people/gamera/gamera.mel") + "|" + dirname("C:/aw/godzilla/hello.c") + "|" + dirname("a/b/") + "|" + dirname("/top") + "|" + dirname("name") + "|" + dirname("") + "|");)",
            "/usr/people/gamera|C:/aw/godzilla|a|/|||" },
        LanguageCase { "fileExtension",
            R"(print (fileExtension("file.txt") + "|" + fileExtension("/usr/images/picture.jpg") + "|" + fileExtension("frame.012.tif") + "|" + fileExtension("c:\\Pictures\\me.jpg") + "|" + fileExtension("dir.d/noext") + "|" + fileExtension(".profile") + "|" + fileExtension("") + "|");)",
            "txt|jpg|tif|jpg||||" },
        LanguageCase { "aboutFlags",
            R"(print (`about -api` + " " + `about -linux` + `about -l64` + `about -x64` + `about -windows` + `about -mac` + `about -nt` + " " + (`about -v` == `about -version`) + " " + gmatch(`about -product`, "hostbatch (pictile) *") + " " + (`about` == `about -p`) + " " + gmatch(`about -cd`, "[0-9][0-9][0-9][0-9]/[0-9][0-9]/[0-9][0-9]"));)",
            "600 111000 1 1 1 1" },
        LanguageCase { "timerXMeasuresFromTheStart",
            R"(float $start = `timerX`; system "sleep 0.05"; float $elapsed = `timerX -startTime $start`; print (($elapsed >= 0.05) + " " + ($elapsed < 60) + " " + ($start >= 0));)",
            "// Result:  //\n1 1 1" },
        LanguageCase { "dateFormats",
            R"(print ("" + gmatch(`date`, "[0-9][0-9][0-9][0-9]/[0-9][0-9]/[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]") + gmatch(`date -date`, "[0-9][0-9][0-9][0-9]/[0-9][0-9]/[0-9][0-9]") + gmatch(`date -time`, "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]") + gmatch(`date -sd -st`, "[0-9][0-9]/[0-9][0-9] [0-9][0-9]:[0-9][0-9]") + gmatch(`date -format "on YY (YYYY) at hh, x"`, "on [0-9][0-9] ([0-9][0-9][0-9][0-9]) at [0-9][0-9], x")); date -nope;)",
            "11111// Error: line 1: date: unknown flag '-nope' //\n" },
        LanguageCase { "getLastError",
            R"(int $c = catchQuiet(`error "boom"`); print (getLastError() + "|"); $c = catch($nope); print getLastError();)",
            "boom|// Error: line 1: $nope is not declared //\nline 1: $nope is not declared" },
        LanguageCase { "evalEchoShowsWhatItRuns",
            R"(evalEcho "print 5"; int $v = `evalEcho "echoInt 6"`; print $v;)", "print 5\n5echoInt 6\n6" },
        LanguageCase { "traceLeavesTheTranscriptAlone",
            R"(trace "to standard error\n"; trace -where "x"; print "after";)", "after" },
        LanguageCase { "evalDeferredRunsWhenTheSourceEnds",
            R"(evalDeferred -lowestPriority "print \"last \""; evalDeferred "print \"second \""; evalDeferred -evaluateNext "print \"first \""; print (size(`evalDeferred -list`) + " " + size(`evalDeferred -list -lp`) + " "); print "source ";)",
            "3 1 source first second last " },
        LanguageCase { "evalDeferredChecksItsScriptAtOnce", R"(evalDeferred "print ("; evalDeferred -lp;)",
            "// Error: line 1: evalDeferred: line 1.8: expected an expression, found the end of the script "
            "//\n"
            "// Error: line 1: evalDeferred takes one script //\n" },
        LanguageCase {
            "quitEndsTheRunAtOnce", R"(print "a"; { catch(`quit -force`); print "b"; } print "c";)", "a" },
        LanguageCase { "pluginInfo",
            R"(print ("" + `pluginInfo -q -loaded "echo_plugin"` + `pluginInfo -query -l "echo_plugin.so"` + `pluginInfo -q -l "nope"` + " " + `pluginInfo -q -vendor echo_plugin` + " " + `pluginInfo -q -version echo_plugin` + " " + `pluginInfo -q -av echo_plugin` + " " + `pluginInfo -q -n echo_plugin` + "\n"); print `pluginInfo -q -listPlugins`; print (stringArrayCount("echoInt", `pluginInfo -q -command echo_plugin`) + "\n"); pluginInfo -q -path "nope";)",
            "110 pictile tests 1.0 600 echo_plugin\necho_plugin\n1\n// Error: line 1: pluginInfo: plug-in "
            "\"nope\" is not loaded //\n" },
        LanguageCase { "pluginInfoPathIsAbsolute",
            std::string("print (`pluginInfo -q -path echo_plugin` == \"")
                + std::filesystem::absolute(ECHO_PLUGIN).lexically_normal().string() + "\");",
            "1" },
        LanguageCase { "loadPluginGivesTheNames",
            std::string("loadPlugin \"") + ECHO_PLUGIN + "\"; loadPlugin -quiet \"" + ECHO_PLUGIN
                + "\"; unloadPlugin \"echo_plugin.so\"; loadPlugin \"" + ECHO_PLUGIN
                + "\"; unloadPlugin \"echo_plugin\" \"echo_plugin\";",
            "// Warning: Plug-in \"echo_plugin\" is already loaded //\n// Result:  //\n// Result:  //\n// "
            "Result: echo_plugin //\n"
            "// Result: echo_plugin //\n// Error: Plug-in \"echo_plugin\" is not loaded //\n" }),
    [](const auto& info) { return std::string(info.param.name); });

// The library's built-ins on text, arrays, numbers and vectors, one row each
// (or one for a family's members), with the edge cases their pages give.
INSTANTIATE_TEST_SUITE_P(StringBuiltins, Language,
    testing::Values(
        LanguageCase { "startStringEndString",
            R"(print (startString("abc", 1) + "|" + startString("abc", 8) + "|" + startString("abc", 0) + "|" + startString("", 3) + "|"
    + endString("abc", 1) + "|" + endString("abc", 8) + "|" + endString("abc", -1) + "|" + startString("héllo", 2) + "|" + endString("héllo", 4));)",
            "a|abc|||c|abc||hé|éllo" },
        LanguageCase { "sizeBytesContainsMultibyte",
            R"(print (sizeBytes("héllo") + " " + sizeBytes("") + " " + containsMultibyte("héllo") + containsMultibyte("hello"));)",
            "6 0 10" },
        LanguageCase { "capitalizeString",
            R"(print (capitalizeString("maya") + capitalizeString("") + capitalizeString("fooBAR") + capitalizeString("1a"));)",
            "MayaFooBAR1a" },
        LanguageCase { "interToUI",
            R"(print (interToUI("graphEditor") + "|" + interToUI("heffalump") + "|" + interToUI("AndWoozles") + "|" + interToUI("someUVSet") + "|" + interToUI(""));)",
            "Graph Editor|Heffalump|And Woozles|Some UVSet|" },
        LanguageCase { "encodeString",
            R"mel(print (encodeString("print(\"Hello\\n\");") + "|" + encodeString("a\tb\r\nc"));)mel",
            R"(print(\"Hello\\n\");|a\tb\r\nc)" },
        LanguageCase { "tokenizeOnEveryWhitespace",
            R"(string $t[]; print (tokenize("a\tb  c\nd\r\ne", $t) + " " + stringArrayToString($t, ",") + " " + tokenize("", $t) + size($t) + " "
    + tokenize("A/B//C/D", "//", $t) + stringArrayToString($t, "") + " " + tokenize("abc", "", $t) + $t[0]);)",
            "5 a,b,c,d,e 00 4ABCD 1abc" },
        LanguageCase { "tokenizeList",
            R"(string $t[]; print (tokenizeList("1 6 7, 54", $t) + " " + stringArrayToString($t, ",") + " " + tokenizeList("", $t) + size($t));)",
            "1 1,6,7,54 10" },
        LanguageCase { "matchAsMelReadsIt",
            R"(print (match("a*b*", "abbcc") + "|" + match("a*b*", "bbccc") + "|" + match("a+b+", "bbccc") + "|" + match("^the", "chase the fox") + "|"
    + match("fox$", "the red fox") + "|" + match("(abc)+", "123abcabc456") + "|" + match("[\\]]+", "a]]b") + "|" + match("[^|]*$", "|grp|pCube1") + "|"
    + match("a?|{2}", "xa?|{2}") + "|" + match("b.", "ab\nc") + "|" + match("", "abc") + "|" + match(")"
            "\xE9+\", \"a\xE9\xE9"
            R"("));)",
            "abb|bb|||fox|abcabc|]]|pCube1|a?|{2}|b\n||\xE9\xE9" },
        LanguageCase { "substituteAsMelReadsIt",
            R"(print (substitute(".*|", "|grp|pCube1", "") + " " + substitute("-%.*%-", "Hello -%there%-", "Mel") + " " + substitute("foo", "Hello", "Mel") + " "
    + substitute("", "ab", "-") + " " + substitute("b*$", "abb", "c"));)",
            "pCube1 Hello Mel Hello -ab ac" },
        LanguageCase { "regularExpressionsThatAreNone",
            "match \"(a\" \"a\"; substitute \"a\\\\\" \"a\" \"b\"; "
            "isValidString \"a\" \"[b-a]\";",
            "// Error: line 1: match: '(a' is not a regular "
            "expression //\n// Error: line 1: substitute: "
            "'a\\' is not a "
            "regular expression //\n// Error: line 1: isValidString: "
            "'[b-a]' is not a regular expression "
            "//\n" },
        LanguageCase { "regularExpressionOnALongText",
            R"(string $s = "a"; for ($i = 0; $i < 15; $i++) $s += $s; print ("[" + match("a*b", $s) + "]" + size(match("a*", $s)) + size(substitute("a$", $s, "b")));)",
            "[]3276832768" },
        LanguageCase { "regularExpressionPastTheWorkBound",
            "string $s = \"ab\"; for ($i = 0; $i < 22; $i++) $s += $s;\nmatch "
            "\"[ab]*a[ab][ab][ab][ab][ab][ab][ab][ab][ab][ab][ab][ab][ab][ab]["
            "ab][ab][ab][ab][ab][ab]c\" $s;",
            "// Error: line 2: match: the regular expression could take more "
            "than 33554432 steps on 8388608 "
            "bytes //\n" },
        LanguageCase { "isValidString",
            R"(print ("" + isValidString("Name1", "[a-zA-Z][a-zA-Z0-9_]*") + isValidString("My Name", "[a-zA-Z][a-zA-Z0-9_]*")
    + isValidString("My Name", "[a-zA-Z][a-zA-Z0-9_ ]*") + isValidString("204.555.9663", "[0-9][0-9][0-9]\\.[0-9][0-9][0-9]\\.[0-9]+")
    + isValidString("204-555-9663", "[0-9][0-9][0-9]\\.[0-9][0-9][0-9]\\.[0-9]+") + isValidString("", "a*"));)",
            "101101" },
        LanguageCase { "gmatchEdgeCases",
            R"(print ("" + gmatch("matches", "m*s") + gmatch("matches", "ma[!a-m]ches") + gmatch("no match", "?atch") + gmatch("a[b", "a[b")
    + gmatch("", "*") + gmatch("ab", "a*b*c") + gmatch("a?", "a\\?") + gmatch("ab", "a\\?"));)",
            "11011010" },
        LanguageCase { "nativePaths", R"(print (toNativePath("a/b\\c") + " " + fromNativePath("c:\\x/y"));)",
            "a/b\\c c:\\x/y" }),

    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(ArrayBuiltins, Language,
    testing::Values(
        LanguageCase { "sortCaseInsensitiveKeepsTies",
            R"(string $none[]; print (stringArrayToString(sortCaseInsensitive({"bcd", "Def", "abC", "ABC"}), " ") + size(sortCaseInsensitive($none)));)",
            "abC ABC bcd Def0" },
        LanguageCase { "arrayContains",
            R"(string $none[]; int $noInts[]; print ("" + stringArrayContains("b", {"a", "b"}) + stringArrayContains("c", {"a"}) + stringArrayContains("a", $none)
    + intArrayContains(2, {1, 2, 3}) + intArrayContains(0, $noInts) + " " + floatArrayContains(2.0, {1.0, 2.0}) + " " + floatArrayContains(0.0, {1.0}));)",
            "10010 1 0" },
        LanguageCase { "arrayCount",
            R"(int $noInts[]; print (intArrayCount(1, {1, 2, 1}) + " " + floatArrayCount(0.5, {0.5, 1, 0.5}) + " " + intArrayCount(3, $noInts));)",
            "2 2 0" },
        LanguageCase { "floatArrayFind",
            R"(print (floatArrayFind(1.0, 0, {1.0, 2.0, 3.0}) + " " + floatArrayFind(3.0, 4, {1.0, 2.0, 3.0}) + " " + floatArrayFind(2.0, -5, {1.0, 2.0}));)",
            "0 -1 1" },
        LanguageCase { "stringArrayInsertAtIndex",
            R"(string $l[] = {"item1", "item3"}; int $r[]; $r[0] = stringArrayInsertAtIndex(1, $l, "item2"); $r[1] = stringArrayInsertAtIndex(-1, $l, "item4");
$r[2] = stringArrayInsertAtIndex(10, $l, "item4"); $r[3] = stringArrayInsertAtIndex(0, $l, "item0"); print (intArrayToString($r, "") + " " + stringArrayToString($l, " "));)",
            "1011 item0 item1 item2 item3 item4" },
        LanguageCase { "numberArrayInsertAtIndex",
            R"(int $i[] = {1, 3}; float $f[]; print ("" + intArrayInsertAtIndex(1, $i, 2) + floatArrayInsertAtIndex(5, $f, 0.5) + " " + intArrayToString($i, ",") + " " + $f[0]);)",
            "11 1,2,3 0.5" },
        LanguageCase { "arrayRemoveAtIndex",
            R"(string $l[] = {"a", "b", "c"}; int $i[] = {1, 2, 3}; float $f[] = {1, 2};
print ("" + stringArrayRemoveAtIndex(1, $l) + stringArrayRemoveAtIndex(5, $l) + intArrayRemoveAtIndex(-1, $i) + intArrayRemoveAtIndex(0, $i)
    + floatArrayRemoveAtIndex(1, $f) + " " + stringArrayToString($l, "") + intArrayToString($i, "") + " " + size($f));)",
            "10011 ac23 1" },
        LanguageCase { "arrayRemoveTakesEveryOne",
            R"(print (intArrayToString(intArrayRemove({1, 3, 5, 7}, {1, 2, 3, 4, 5, 6, 7, 8}), ",") + " " + stringArrayToString(stringArrayRemove({"a"}, {"a", "b", "a"}), ",")
    + " " + size(floatArrayRemove({1.5}, {1.5, 2, 1.5})));)",
            "2,4,6,8 b 1" },
        LanguageCase { "stringArrayRemoveExactTakesAsManyAsGiven",
            R"(print stringArrayToString(stringArrayRemoveExact({"a", "b", "a", "z"}, {"a", "b", "a", "c", "b", "a"}), ",");)",
            "c,b,a" },
        LanguageCase { "numberArrayRemoveDuplicatesKeepsFirst",
            R"(string $none[]; print (intArrayToString(intArrayRemoveDuplicates({3, 1, 3, 2, 1}), ",") + " " + size(floatArrayRemoveDuplicates({0.5, 0.5, 1}))
    + " " + size(stringArrayRemoveDuplicates($none)));)",
            "3,1,2 2 0" },
        LanguageCase { "stringArrayCatenateReverse",
            R"(string $none[]; print (stringArrayToString(stringArrayCatenate({"a", "b"}, {"c"}), "") + " " + stringArrayToString(stringArrayReverse({"a", "b", "c"}), "")
    + " " + size(stringArrayReverse($none)) + size(stringArrayCatenate($none, $none)));)",
            "abc cba 00" },
        LanguageCase { "arrayOfTheWrongType", "stringArrayContains(\"a\", \"a\");",
            "// Error: line 1: stringArrayContains takes an array, "
            "not string //\n" },
        LanguageCase { "libraryProceduresGiveWayToAScriptsOwn",
            R"(print (whatIs("stringArrayContains") + "|" + whatIs("sortCaseInsensitive") + "|");
eval "global proc int stringArrayContains(string $a, string $b[]) { return 7; }"; print (stringArrayContains("x", {"y"}) + "|" + whatIs("stringArrayContains"));)",
            "Mel procedure found in: the standard library|Command|7|Mel "
            "procedure entered interactively." }),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(MathBuiltins, Language,
    testing::Values(
        LanguageCase { "signExpLogHypot",
            R"(print (sign(-2.5) + " " + sign(0) + " " + sign(3) + " " + exp(0) + " " + log(exp(2)) + " " + log10(1000) + " " + hypot(3, 4));)",
            "-1 0 1 1 2 3 5" },
        LanguageCase { "trigonometry",
            R"(print (sin(0) + " " + cos(0) + " " + tan(0) + " " + asin(1) + " " + acos(1) + " " + atan(1) + " " + atan2(1, 1));)",
            "0 1 0 1.5708 0 0.785398 0.785398" },
        LanguageCase { "trigonometryInDegrees",
            R"(print (sind(90) + " " + cosd(180) + " " + tand(45) + " " + asind(1) + " " + acosd(0) + " " + atand(1) + " " + atan2d(1, -1) + " "
    + deg_to_rad(180) + " " + rad_to_deg(3.14159265358979));)",
            "1 -1 1 90 90 45 135 3.14159 180" },
        LanguageCase { "linstepSmoothstep",
            R"(print (linstep(1, 3, 2) + " " + linstep(1, 3, 0) + " " + linstep(1, 3, 5) + " " + linstep(2, 2, 2) + " " + smoothstep(1, 3, 2) + " "
    + smoothstep(1, 3, 2.5) + " " + smoothstep(1, 3, 9));)",
            "0.5 0 1 1 0.5 0.84375 1" },
        LanguageCase { "hermiteOfFloatsAndVectors",
            R"(print (hermite(0, 1, 0, 0, 0.5) + " " + hermite(0, 0, 1, 0, 0.5) + " " + hermite(5, 1, 2, 3, 0) + " " + hermite(5, 1, 2, 3, 1) + " | "
    + hermite(<<0, 0, 0>>, <<2, 4, 6>>, 0, 0, 0.5));)",
            "0.5 0.125 5 1 | 1 2 3" },
        LanguageCase { "randRangesVectorsAndStreams",
            R"({ seed(7); } float $d1 = rand(1); { seed(7); seed("s", 3); } float $s1 = rand("s", 1, 2); float $d2 = rand(1); { seed("s", 3); }
float $s2 = rand("s", 1, 2); vector $w = rand(<<10, 20, 30>>);
print (($d1 == $d2) + " " + ($s1 == $s2) + " " + ($s1 >= 1 && $s1 < 2) + " " + rand(<<1, 2, 3>>, <<1, 2, 3>>) + " " + rand(5, 5) + " "
    + ($w.x >= 0 && $w.x < 10 && $w.y >= 0 && $w.y < 20 && $w.z >= 0 && $w.z < 30));)",
            "1 1 1 1 2 3 5 1" },
        LanguageCase { "gauss",
            R"({ seed(1); } float $g = gauss(2); vector $v = gauss(<<1, 2, 0>>); vector $u = gauss(1, 3);
print ((abs($g) < 20) + " " + ($v.z == 0) + " " + ($u.z == 0) + " " + (gauss(0) == 0) + " " + (gauss("s", 0) == 0));)",
            "1 1 1 1 1" },
        LanguageCase { "sphrandInsideTheSphere",
            R"({ seed(2); } int $inside = 1; for ($i = 0; $i < 50; $i++) { vector $p = sphrand(2); if (mag($p) > 2) $inside = 0;
vector $e = sphrand("s", <<1, 0, 0>>); if ($e.y != 0 || abs($e.x) > 1) $inside = 0; } print $inside;)",
            "1" },
        LanguageCase { "vectorProducts",
            R"(print (dot(<<1, 2, 3>>, <<4, 5, 6>>) + " | " + cross(<<1, 0, 0>>, <<0, 1, 0>>) + " | " + unit(<<3, 0, 4>>) + " | " + unit(<<0, 0, 0>>) + " | "
    + angle(<<1, 0, 0>>, <<0, 2, 0>>) + " " + angle(<<1, 0, 0>>, <<0, 0, 0>>) + " " + dot(1, <<1, 1, 1>>));)",
            "32 | 0 0 1 | 0.6 0 0.8 | 0 0 0 | 1.5708 0 3" },
        LanguageCase { "vectorOfAString", "dot(\"a\", <<1, 1, 1>>);",
            "// Error: line 1: dot takes a vector, not string //\n" }),
    [](const auto& info) { return std::string(info.param.name); });

// The same table in a scratch folder of its own, for the built-ins on files;
// one per process, as ctest runs the rows in parallel processes.
class FileBuiltins : public Language {
protected:
    void SetUp() override
    {
        Language::SetUp();
        previous_ = std::filesystem::current_path();
        folder_
            = std::filesystem::temp_directory_path() / ("hostbatch_files_test." + std::to_string(getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
    }
    void TearDown() override
    {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

TEST_P(FileBuiltins, PrintsTheExpectedTranscript)
{
    EXPECT_EQ(transcriptOf(session, GetParam().script), GetParam().transcript) << GetParam().script;
}

INSTANTIATE_TEST_SUITE_P(Files, FileBuiltins,
    testing::Values(
        LanguageCase { "getFileListWithoutDotEntries",
            R"({ sysFile -md "imgs/sub"; fclose(fopen("imgs/b.png")); fclose(fopen("imgs/a.png")); fclose(fopen("imgs/c.txt")); }
print (stringArrayToString(`getFileList -folder "imgs/" -filespec "*.png"`, " ") + " " + size(`getFileList -fld "imgs"`));)",
            "a.png b.png 4" },
        LanguageCase { "fopenWriteAppendRead",
            R"({ int $f = fopen("t.txt", "w"); fprint $f "a\n"; fclose $f; $f = fopen("t.txt", "a"); fprint $f "b"; fclose $f;
$f = fopen("t.txt", "r"); print fgetline($f); print fgetline($f); print ("[" + fgetline($f) + "]"); fclose $f; })",
            "a\nb[]" },
        LanguageCase { "fopenFailsWithZero",
            R"(sysFile -md "d"; print (fopen("missing/x.txt", "r") + " " + fopen("d", "r") + " " + fopen("nope.txt", "r"));)",
            "// Result: 1 //\n0 0 0" },
        LanguageCase { "fopenRefusesAFifoAtOnce",
            R"({ system("mkfifo p"); } print (fopen("p", "r") + " " + fopen("p", "w"));)", "0 0" },
        LanguageCase {
            "fcloseUnknownId", "fclose 42;", "// Error: line 1: fclose: file id 42 is not open //\n" },
        LanguageCase { "filetest",
            R"({ sysFile -md "d"; fclose(fopen("e.txt")); int $f = fopen("s.txt"); fprint $f "x"; fclose $f; }
print ("" + `filetest -d "d"` + `filetest -f "d"` + `filetest -f "s.txt"` + `filetest -s "e.txt"` + `filetest -s "s.txt"` + `filetest -e "none"` + `filetest -r "s.txt"`);)",
            "1010101" },
        LanguageCase { "sysFile",
            R"({ sysFile -makeDir "a/b/c"; int $f = fopen("a/x.txt"); fprint $f "data"; fclose $f; }
print ("" + `sysFile -copy "a/y.txt" "a/x.txt"` + `sysFile -rename "a/z.txt" "a/y.txt"` + `filetest -f "a/y.txt"` + `filetest -s "a/z.txt"`
    + `sysFile -delete "a/x.txt"` + `sysFile -removeEmptyDir "a/b/c"` + `sysFile -removeEmptyDir "a"` + `filetest -d "a/b"`);)",
            "11011101" },
        LanguageCase { "fgetwordUntilFeof",
            R"({ int $f = fopen("w.txt"); fprint $f "  one two\nthree"; fclose $f; $f = fopen("w.txt", "r");
while (!feof($f)) print (fgetword($f) + ";"); fclose $f; })",
            "one;two;three;" },
        LanguageCase { "fwriteThenFread",
            R"({ int $f = fopen("b.bin"); fwrite $f "ab"; fwrite($f, 7); fwrite($f, 2.5); fclose $f; $f = fopen("b.bin", "r");
string $s; int $i; float $x; $s = fread($f, $s); $i = fread($f, $i); $x = fread($f, $x); print ($s + $i + " " + $x); fclose $f; })",
            "ab7 2.5" },
        LanguageCase { "fwriteBareNumbersAsNumbers",
            R"({ int $f = fopen("n.bin"); fwrite $f 3; fwrite $f -2.5; fwrite $f "3"; fclose $f; $f = fopen("n.bin", "r");
int $i; float $x; string $s; $i = fread($f, $i); $x = fread($f, $x); $s = fread($f, $s); print ($i + " " + $x + " " + $s); fclose $f; })",
            "3 -2.5 3" },
        LanguageCase { "pwd", R"(print gmatch(pwd(), "*/hostbatch_files_test.[0-9]*");)", "1" },
        LanguageCase { "scriptPathForSourceAndAutoLoading",
            R"({ sysFile -md "lib"; int $f = fopen("lib/greet.mel"); fprint $f "print \"loaded \"; global proc greet() { print \"hi \"; }"; fclose $f;
putenv "MAYA_SCRIPT_PATH" "none:lib"; greet; source "greet.mel"; print whatIs("greet"); putenv "MAYA_SCRIPT_PATH" ""; })",
            "loaded hi loaded Mel procedure found in: lib/greet.mel" },
        LanguageCase { "sourceRefusesAFolder", R"(sysFile -md "d"; source "d";)",
            "// Result: 1 //\n// Error: line 1: cannot read script 'd': it is a folder //\n" },
        LanguageCase { "chdirMovesWhatRelativePathsMean",
            R"({ sysFile -md "sub"; print chdir("sub"); print gmatch(pwd(), "*/sub"); fclose(fopen("here.txt")); print chdir(".."); }
print ("" + `filetest -f "sub/here.txt"` + " " + chdir("missing") + " " + gmatch(pwd(), "*/hostbatch_files_test.[0-9]*"));)",
            "0101 -1 1" },
        LanguageCase { "fflushAndFrewindReadBackWhatWasWritten",
            R"({ int $f = fopen("t.txt", "w+"); fprint $f "hello\n"; print fflush($f); frewind $f; print fgetline($f); print feof($f); frewind $f; print fgetword($f); fclose $f; })",
            "0hello\n0hello" },
        LanguageCase { "popenReadsTheOutputAndPcloseGivesTheExitStatus",
            R"({ int $p = popen("printf 'one\ntwo'; exit 3", "r"); while (!feof($p)) print ("[" + fgetline($p) + "]"); print (" " + pclose($p)); }
{ int $q = popen("exit 0", "r"); print (" [" + fgetline($q) + "] " + pclose($q)); })",
            "[one\n][two] 3 [] 0" },
        LanguageCase { "popenWritesTheInput",
            R"({ int $p = popen("tr a-z A-Z > up.txt; exit 1", "w"); fprint $p "pipe\n"; fwrite $p "d"; print pclose($p);
int $f = fopen("up.txt", "r"); print fgetline($f); print fread($f, ""); fclose $f; })",
            "1PIPE\nD" },
        LanguageCase { "popenModesAndIds",
            R"({ int $f = fopen("f.txt"); pclose $f; } popen "true" "a"; { int $p = popen("true", "r"); fclose $p; pclose $p; }
{ int $p = popen("true", "r"); frewind $p; })",
            "// Error: line 1: pclose: file id 1 is not a pipe (use fclose) //\n"
            "// Error: line 1: popen: unknown mode 'a' (use r or w) //\n"
            "// Error: line 1: pclose: file id 2 is not open //\n"
            "// Error: line 2: frewind: file id 3 is a pipe //\n" },
        LanguageCase { "popenWriteToACommandThatHasEnded",
            R"({ int $p = popen("exit 0", "w"); system "sleep 0.1"; string $s = "0123456789abcdef"; for ($i = 0; $i < 13; $i++) $s += $s; fprint $p $s; })",
            "// Error: line 1: fprint: cannot write to 'exit 0': Broken pipe //\n" },
        LanguageCase { "sysFileCopyKeepsTheModeAndNeverCopiesOntoItself",
            R"({ int $f = fopen("run.sh"); fprint $f "#!/bin/sh\n"; fclose $f; system "chmod 755 run.sh"; }
print ("" + `sysFile -copy "copy.sh" "run.sh"` + `filetest -x "copy.sh"` + `filetest -s "copy.sh"` + `sysFile -copy "run.sh" "run.sh"` + `filetest -s "run.sh"` + `sysFile -copy "x" "missing"`);)",
            "111010" },
        LanguageCase { "sourceInsideALoop",
            R"({ int $f = fopen("count.mel"); fprint $f "global int $n; $n++;"; fclose $f; }
global int $n; for ($i = 0; $i < 3; $i++) source "count.mel"; print $n;)",
            "3" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionWithEcho, OpenFilesCloseWithTheSession)
{
    const auto openDescriptors
        = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = openDescriptors();
    {
        host::Session other;
        transcriptOf(
            other, R"(int $f = fopen("/proc/self/status", "r"); int $g = fopen("/proc/self/status", "r");)");
        EXPECT_EQ(openDescriptors(), before + 2);
    }
    EXPECT_EQ(openDescriptors(), before);
}

// An embedding calls a name with values, as one statement that stands on no
// line of a script.
TEST_F(SessionWithEcho, CallsANameWithValuesAsAStatementOfItsOwn)
{
    std::vector<mel::StatementOutcome> pieces;
    const mel::Interpreter::Report keep
        = [&pieces](mel::StatementOutcome& piece) { pieces.push_back(piece); };
    mel::Interpreter& interpreter = session.interpreter();

    // A command gets every value as text, an array element by element.
    const mel::StatementOutcome command = interpreter.call("echoStrings",
        { mel::Value(std::string("-f")), mel::Value(3), mel::Value(2.5),
            mel::Value(std::vector<std::string> { "a b", "" }) },
        keep);
    EXPECT_EQ(command.command, "echoStrings");
    EXPECT_EQ(command.status, MS::kSuccess);
    EXPECT_EQ(command.result, host::CommandResult(std::vector<std::string> { "-f", "3", "2.5", "a b", "" }));

    // A built-in gets the values as they are, and its errors name no line.
    EXPECT_EQ(interpreter.call("size", { mel::Value(std::vector<double> { 1.5, 2 }) }, keep).result,
        host::CommandResult(2));
    const mel::StatementOutcome unknownFlag = interpreter.call("getFileList", { mel::Value("-nope") }, keep);
    EXPECT_FALSE(unknownFlag.status);
    EXPECT_EQ(unknownFlag.lines,
        (std::vector<EditorLine> { { LineKind::Error, "getFileList: unknown flag '-nope'" } }));

    // A procedure, through the same lookup.
    transcriptOf(session, "proc string twice(string $s) { return $s + $s; }");
    EXPECT_EQ(interpreter.call("twice", { mel::Value(std::string("ab")) }, keep).result,
        host::CommandResult(std::string("abab")));
    const mel::StatementOutcome missing = interpreter.call("noSuchName", {}, keep);
    EXPECT_EQ(missing.status, MS::kNotFound);
    EXPECT_EQ(missing.lines,
        (std::vector<EditorLine> { { LineKind::Error, "Cannot find procedure \"noSuchName\"." } }));
    EXPECT_TRUE(pieces.empty());
}

// With values given, a statement's value comes as MEL has it: an assignment's
// and an expression's too, a float array as floats; a command's result stays one.
TEST_F(SessionWithEcho, GivesEachStatementsValueWhenAsked)
{
    const auto valuesOf = [this](const std::string& script) {
        std::vector<std::optional<mel::Value>> values;
        std::vector<host::CommandResult> results;
        session.runScript(script, true, [&](mel::StatementOutcome& outcome) {
            values.push_back(outcome.value);
            results.push_back(outcome.result);
        });
        return std::make_pair(values, results);
    };
    transcriptOf(session, "proc float[] halves() { return {1.5, 2}; }");
    const std::string script = "$t = 5; $t + 1.5; float $f[] = {1}; echoInt 4; halves();";
    const auto [untouched, results] = valuesOf(script);
    EXPECT_EQ(untouched, std::vector<std::optional<mel::Value>>(5));
    EXPECT_EQ(results[1], host::CommandResult());
    EXPECT_EQ(results[4], host::CommandResult(std::vector<std::string> { "1.5", "2" }));

    session.interpreter().giveValues(true);
    const auto [values, given] = valuesOf(script);
    const std::vector<std::optional<mel::Value>> expected = { mel::Value(5), mel::Value(6.5), std::nullopt,
        std::nullopt, mel::Value(std::vector<double> { 1.5, 2 }) };
    EXPECT_EQ(values, expected);
    EXPECT_EQ(given[3], host::CommandResult(4));
    EXPECT_EQ(given[4], host::CommandResult());
}

TEST_F(SessionWithEcho, TopLevelVariablesAndProceduresLastTheSession)
{
    transcriptOf(session, "int $kept = 7; proc int seven() { return $kept; }");
    EXPECT_EQ(transcriptOf(session, "print $kept; seven;"), "7// Error: line 1: $kept is not declared //\n");
}

TEST_F(SessionWithEcho, StepBudgetEndsLoopsAndCannotBeCaught)
{
    mel::Limits limits;
    limits.steps = 1000;
    session.interpreter().setLimits(limits);
    EXPECT_EQ(transcriptOf(session, "while (1) catch(`echoNothing`); print \"next\";"),
        "// Error: line 1: the statement ran more than 1000 steps //\nnext");
}

TEST_F(SessionWithEcho, ValueSizeLimitsBoundGrowth)
{
    {
        // Inside a compiled loop, an int array's typed writes keep the bound.
        mel::Limits bound;
        bound.valueSize = 100;
        session.interpreter().setLimits(bound);
        EXPECT_EQ(
            transcriptOf(session, "proc fill() { int $a[]; for ($i = 0; ; $i++) $a[$i] = $i; }\nfill();"),
            "// Error: line 1: an array of more than 100 elements //\n");
    }
    mel::Limits limits;
    limits.valueSize = 100;
    limits.stringSize = 10;
    session.interpreter().setLimits(limits);
    EXPECT_EQ(transcriptOf(session,
                  "int $a[]; $a[100] = 1; string $s = "
                  "\"12345\"; $s += \"678\"; $s += \"9ab\";"),
        "// Error: line 1: an array of more than 100 elements //\n// "
        "Error: line 1: a string of more than 10 "
        "bytes //\n");
    // A matrix counts its elements against the array limit, as declared and as a product makes one.
    EXPECT_EQ(
        transcriptOf(session, "matrix $m[11][10];\nmatrix $ma[100][1]; matrix $mb[1][100]; $mc = $ma * $mb;"),
        "// Error: line 1: an array of more than 100 elements //\n// Error: line 2: an array of more than "
        "100 "
        "elements //\n");
    // A command's string result counts against the string limit, not the array limit.
    limits.valueSize = 3;
    session.interpreter().setLimits(limits);
    EXPECT_EQ(transcriptOf(session,
                  "string $s = `echoString \"hello\"`; print "
                  "$s; $s = `echoString \"hello world\"`;"),
        "hello// Error: line 1: a string of more than 10 bytes //\n");
}

// The bound on what the session holds counts values wherever they are, many
// small ones together; the statement that passes it fails, and the session
// goes on once the values are gone.
TEST_F(SessionWithEcho, MemoryBoundEndsTheStatementThatHoldsTooMuch)
{
    mel::Limits limits;
    limits.memory = mel::allocatedBytes() + (std::size_t { 64 } << 20);
    session.interpreter().setLimits(limits);
    // A thousand strings of 1 MiB: far longer than the 10 ms between looks
    // goes by once the bound is passed.
    const std::string script
        = "{ string $s = \"0123456789abcdef\"; for ($i = 0; $i < 16; $i++) $s += $s;\n"
          "string $a[]; for ($i = 0; $i < 1000; $i++) $a[$i] = $s + $i; print \"kept all\"; }\n"
          "print \"next\";";
    EXPECT_EQ(transcriptOf(session, script),
        "// Error: line 2: the session holds more than " + std::to_string(limits.memory) + " bytes //\nnext");
}

// With hostbatch's defaults the bound is half of the memory the machine has,
// or its control group lets the process have.
TEST(MemoryBound, DefaultsToHalfOfTheMachine)
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kilobytes = 0;
    while (meminfo >> key >> kilobytes && key != "MemTotal:")
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    ASSERT_EQ(key, "MemTotal:");
    const std::uint64_t half = kilobytes * 1024 / 2;
    const std::size_t bound = hostbatch::defaultLimits().memory;
    EXPECT_EQ(bound, host::Session::defaultMemoryBound());
    EXPECT_GT(bound, 0u);
    EXPECT_LE(bound, half);
    // Smaller only when the control group's limit is: its own, not one above.
    std::ifstream groups("/proc/self/cgroup");
    std::uint64_t groupLimit = std::numeric_limits<std::uint64_t>::max();
    for (std::string line; std::getline(groups, line);) {
        const bool unified = line.rfind("0::", 0) == 0;
        const std::size_t memory = line.find(":memory:");
        if (!unified && memory == std::string::npos)
            continue;
        std::ifstream limitFile(unified
                ? "/sys/fs/cgroup" + line.substr(3) + "/memory.max"
                : "/sys/fs/cgroup/memory" + line.substr(memory + 8) + "/memory.limit_in_bytes");
        std::uint64_t limit = 0;
        if (limitFile >> limit)
            groupLimit = std::min(groupLimit, limit);
    }
    if (groupLimit / 2 >= half)
        EXPECT_GE(bound, half - 4096);
    else
        EXPECT_LE(bound, groupLimit / 2);
}

// Standard error, as trace writes it.
TEST_F(SessionWithEcho, TraceWritesToStandardErrorOnly)
{
    testing::internal::CaptureStderr();
    const std::string transcript
        = transcriptOf(session, "print \"a\";\ntrace -where \"here\\n\"; trace \"b\";");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "line 2: here\nb");
    EXPECT_EQ(transcript, "a");
}

// Deferred scripts run when their source ends, or not at all when it stopped
// at a failure; quit drops them too.
TEST_F(SessionWithEcho, DeferredScriptsRunOnlyWhenTheSourceRanToItsEnd)
{
    EXPECT_EQ(
        transcriptOf(session, "evalDeferred \"print \\\"later\\\"\"; print $nope; print \"on \";", false),
        "// Error: line 1: $nope is not declared //\n");
    EXPECT_EQ(
        transcriptOf(session, "evalDeferred \"print \\\"later\\\"\"; print $nope; print \"on \";", true),
        "// Error: line 1: $nope is not declared //\non later");
    EXPECT_EQ(transcriptOf(session, "print \"next source\";"), "next source");
    EXPECT_EQ(transcriptOf(session, "evalDeferred \"print 1\"; quit;"), "");
}

TEST_F(SessionWithEcho, QuitTellsTheProgramItsExitStatus)
{
    EXPECT_FALSE(session.interpreter().runEnded());
    const auto outcomes = runScript("proc stop() { quit -exitCode 3; } stop(); print \"never\";");
    ASSERT_EQ(outcomes.size(), 2u);  // the procedure's definition, and the call
    EXPECT_TRUE(outcomes[1].status);
    EXPECT_TRUE(session.interpreter().runEnded());
    EXPECT_EQ(session.interpreter().endStatus(), std::optional<int>(3));
}

// A command the shell leaves running in the background, holding the output,
// does not hold the statement once the shell has exited.
TEST_F(SessionWithEcho, SystemReturnsOnceTheShellHasExited)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(transcriptOf(session, "print system(\"sleep 20 & echo started\");"), "started\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Printing much in one statement holds little when its lines are streamed, and
// is bounded when they are held.
TEST_F(SessionWithEcho, PrintedLinesStreamOrStopAtTheOutputLimit)
{
    const std::string script = "string $s = \"0123456789abcdef\"; for ($i = 0; "
                               "$i < 10; $i++) $s += $s; for ($i = 0; "
                               "$i < 200; $i++) print $s;";
    session.interpreter().streamLines(true);
    std::vector<mel::StatementOutcome> outcomes;
    session.runScript(
        script, true, [&outcomes](const mel::StatementOutcome& outcome) { outcomes.push_back(outcome); });
    std::size_t printed = 0;
    for (const auto& outcome : outcomes)
        for (const EditorLine& line : outcome.lines)
            printed += line.text.size();
    EXPECT_EQ(printed, 200u * 16384u);
    EXPECT_GT(outcomes.size(), 20u);

    // What a statement printed before a quiet attempt stays before what the
    // attempt streams, and the attempt's error goes.
    const std::string quiet = transcriptOf(session,
        "global string $q = \"0123456789abcdef\"; for ($i = 0; $i < 12; "
        "$i++) $q += $q;\n"
        "proc big() { global string $q; for ($k = 0; $k < 8; $k++) "
        "print $q; error \"gone\"; }\n"
        "{ print \"first \"; catchQuiet(big()); print \" last\"; }");
    std::string printedByBig;
    for (int i = 0; i < 8 * 4096; ++i)
        printedByBig += "0123456789abcdef";
    EXPECT_TRUE(quiet == "first " + printedByBig + " last") << quiet.substr(0, 80);

    session.interpreter().streamLines(false);
    mel::Limits limits;
    limits.outputSize = 100000;
    session.interpreter().setLimits(limits);
    const std::string transcript = transcriptOf(session, script);
    EXPECT_EQ(transcript.substr(transcript.size() - 72),
        "abcdef// Error: line 1: the statement printed more than 100000 "
        "bytes //\n");
}

TEST_F(SessionWithEcho, InterruptEndsTheRunningStatement)
{
    volatile std::sig_atomic_t interrupted = 0;
    session.interpreter().setInterruptFlag(&interrupted);
    std::atomic<bool> done { false };
    // Raised again and again, as Ctrl-C pressed until the loop stops.
    std::thread presser([&] {
        while (!done) {
            interrupted = 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const std::string transcript = transcriptOf(session, "while (1) catch(`echoNothing`);");
    // A loop that calls nothing, compiled to registers, stops all the same.
    const std::string loop = transcriptOf(session, "proc spin() { int $n; while (1) $n++; }\nspin();");
    done = true;
    presser.join();
    EXPECT_EQ(transcript, "// Error: line 1: interrupted //\n");
    EXPECT_EQ(loop, "// Error: line 1: interrupted //\n");

    // One that came while no statement could stop (in a command, between
    // statements) stops the next as it starts, and only that one.
    interrupted = 1;
    EXPECT_EQ(transcriptOf(session, "print 1;\nprint 2;"), "// Error: line 1: interrupted //\n2");
}

// A built-in that runs long looks at Ctrl-C as it goes: pressed while it runs,
// the statement ends inside it.
TEST_F(SessionWithEcho, InterruptEndsALongBuiltin)
{
    EXPECT_EQ(transcriptOf(session,
                  "string $s = \"d c b a \"; for ($i = 0; $i < "
                  "19; $i++) $s += $s; string $big[]; { "
                  "tokenize($s, $big); }"),
        "");
    volatile std::sig_atomic_t interrupted = 0;
    session.interpreter().setInterruptFlag(&interrupted);
    std::atomic<bool> done { false };
    std::thread presser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (!done) {
            interrupted = 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const std::string transcript
        = transcriptOf(session, "string $kept[] = stringArrayRemoveDuplicates($big);");
    done = true;
    presser.join();
    EXPECT_EQ(transcript, "// Error: line 1: interrupted //\n");
}

// Pieces past the array limit are refused before any is made.
TEST_F(SessionWithEcho, TokenizeOfALongTextStopsAtTheArrayLimit)
{
    mel::Limits limits;
    limits.valueSize = 1000;
    session.interpreter().setLimits(limits);
    EXPECT_EQ(transcriptOf(session,
                  "string $s = \"a \"; for ($i = 0; $i < 24; $i++) "
                  "$s += $s;\nstring $t[]; tokenize($s, $t);"),
        "// Error: line 2: an array of more than 1000 elements //\n");
}

// HOME pointed at a fresh folder for the test's lifetime, so that optionVar's
// file goes there.
class ScratchHome : public testing::Test {
protected:
    void SetUp() override
    {
        const char* home = std::getenv("HOME");
        previous_ = home != nullptr ? std::optional<std::string>(home) : std::nullopt;
        home_ = std::filesystem::temp_directory_path() / ("hostbatch_home_test." + std::to_string(getpid()));
        std::filesystem::remove_all(home_);
        std::filesystem::create_directories(home_);
        setenv("HOME", home_.c_str(), 1);
    }
    void TearDown() override
    {
        if (previous_)
            setenv("HOME", previous_->c_str(), 1);
        else
            unsetenv("HOME");
        std::filesystem::remove_all(home_);
    }

    std::filesystem::path prefs() const { return home_ / "maya" / "prefs"; }
    std::vector<std::string> prefsFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(prefs()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::optional<std::string> previous_;
    std::filesystem::path home_;
};

TEST_F(ScratchHome, OptionVarsLastFromOneSessionToTheNext)
{
    {
        host::Session first;
        EXPECT_EQ(transcriptOf(first,
                      "optionVar -iv \"count\" 3 -fv \"ratio\" 0.1 -sv \"name\" \"tab\\tand\\\\ line\\n\";\n"
                      "optionVar -sva \"list\" \"x\" -sva \"list\" \"y\" -iv \"first\" 1 -iva \"first\" 2 "
                      "-iva \"gone\" 5;\n"
                      "optionVar -rm \"gone\" -sva \"empty\" \"e\" -ca \"empty\";"),
            "");
    }
    EXPECT_EQ(prefsFiles(), (std::vector<std::string> { "optionVars", "optionVars.lock" }));
    host::Session second;
    EXPECT_EQ(
        transcriptOf(second,
            "print (`optionVar -q \"count\"` + \"|\" + (`optionVar -q \"ratio\"` == 0.1) + \"|\" + "
            "`optionVar -q \"name\"` + \"|\" + stringArrayToString(`optionVar -q \"list\"`, \",\") + \"|\" + "
            "intArrayToString(`optionVar -q \"first\"`, \",\") + \"|\" + `optionVar -q \"none\"` + \"|\");\n"
            "print (\"\" + `optionVar -ex \"count\"` + `optionVar -ex \"gone\"` + `optionVar -ex \"empty\"` "
            "+ \" \" + "
            "`optionVar -as \"list\"` + `optionVar -as \"count\"` + `optionVar -as \"none\"` + \" \" + "
            "stringArrayToString(`optionVar -list`, \",\"));"),
        "3|1|tab\tand\\ line\n|x,y|1,2|0|100 210 count,first,list,name,ratio");
}

// Each change is made on the file as it is by then: another session's changes
// meanwhile stay.
TEST_F(ScratchHome, OptionVarsOfSessionsSideBySideAllStay)
{
    host::Session one;
    host::Session two;
    transcriptOf(one, "optionVar -q \"x\";");
    transcriptOf(two, "optionVar -q \"x\";");
    transcriptOf(one, "optionVar -iv \"one\" 1;");
    transcriptOf(two, "optionVar -iv \"two\" 2;");
    host::Session three;
    EXPECT_EQ(transcriptOf(three, "print stringArrayToString(`optionVar -list`, \",\");"), "one,two");
}

TEST_F(ScratchHome, OptionVarsFileThatCannotBeReadIsLeftAlone)
{
    std::filesystem::create_directories(prefs());
    {
        std::ofstream file(prefs() / "optionVars");
        file << "iv\tgood\t7\nnonsense line\nxv\tbad\t1\nsv\tescape\tbad\\q\n";
    }
    host::Session damaged;
    EXPECT_EQ(transcriptOf(damaged, "print `optionVar -q \"good\"`; print `optionVar -list`;"),
        "// Warning: optionVar: 3 unreadable lines of '" + (prefs() / "optionVars").string()
            + "' were left out //\n7good\n");
    std::filesystem::remove(prefs() / "optionVars");
    std::filesystem::create_directories(prefs() / "optionVars");
    host::Session folder;
    EXPECT_EQ(transcriptOf(folder, "optionVar -iv \"kept\" 1; print `optionVar -q \"kept\"`;"),
        "// Warning: optionVar: cannot read '" + (prefs() / "optionVars").string()
            + "': it is no regular file of at most 64 MiB; changes last this session only //\n1");
    EXPECT_TRUE(std::filesystem::is_directory(prefs() / "optionVars"));
    unsetenv("HOME");
    host::Session homeless;
    EXPECT_EQ(transcriptOf(homeless, "optionVar -sv \"s\" \"v\"; print `optionVar -q \"s\"`;"), "v");
}

// A stream read a few bytes at a time runs each statement as soon as its `;`
// has been read, and an `if` once it is known that no `else` follows.
// What running a stream handed over one byte a read gave: each statement's
// transcript, and how many bytes had been read when it was reported.
struct ByteStream {
    bool succeeded = false;
    bool readFailed = true;
    std::vector<std::string> transcripts;
    std::vector<std::size_t> givenAtReport;
};

ByteStream streamOneByteAtATime(host::Session& session, const std::string& input)
{
    ByteStream run;
    std::size_t given = 0;
    run.succeeded = session.runStream(
        [&](char* buffer, std::size_t) -> long {
            if (given == input.size())
                return 0;
            buffer[0] = input[given++];
            return 1;
        },
        false,
        [&](const mel::StatementOutcome& outcome) {
            run.givenAtReport.push_back(given);
            std::string text;
            hostbatch::appendText(text, outcome);
            run.transcripts.push_back(text);
        },
        run.readFailed);
    return run;
}

TEST_F(SessionWithEcho, StreamRunsEachStatementOnceComplete)
{
    const std::string input = "echoInt 1; /* ; */ echoStrings \"a;\"\n  (\";\"); if (0) print \"x\";\n"
                              "else print \"y\"; int $i = 2; echoInt\n$i";
    const ByteStream run = streamOneByteAtATime(session, input);
    EXPECT_TRUE(run.succeeded);
    EXPECT_FALSE(run.readFailed);
    EXPECT_EQ(run.transcripts,
        (std::vector<std::string> {
            "// Result: 1 //\n", "// Result: a; ; //\n", "y", "", "// Result: 2 //\n" }));
    const std::size_t firstSemicolon = input.find(';') + 1;
    const std::size_t elseEnd = input.find("\"y\";") + 4;
    ASSERT_EQ(run.givenAtReport.size(), 5u);
    EXPECT_EQ(run.givenAtReport[0], firstSemicolon);
    // The `if` waits for the word after its `;`: not `else`, so it ends there.
    EXPECT_GE(run.givenAtReport[2], elseEnd);
    EXPECT_LE(run.givenAtReport[2], input.find("int $i") + 5);
}

// The forms whose reading looks ahead (a bracketed first argument, a call,
// a matrix over lines, a continued string, CR line ends) still run as soon as
// their `;` has been read, one byte at a time.
TEST_F(SessionWithEcho, StreamRunsLookAheadFormsOnceComplete)
{
    const std::string input
        = "echoStrings (\"a\" + 1) 2;\rprint (\"b\")\n;matrix $m[1][2] = <<1,\n 2>>; print "
          "$m;\r\nprint \"c\\\nd\";";
    const ByteStream run = streamOneByteAtATime(session, input);
    EXPECT_TRUE(run.succeeded);
    EXPECT_FALSE(run.readFailed);
    EXPECT_EQ(
        run.transcripts, (std::vector<std::string> { "// Result: a1 2 //\n", "b", "", "<<1, 2>>", "cd" }));
    std::vector<std::size_t> semicolons;
    for (std::size_t at = input.find(';'); at != std::string::npos; at = input.find(';', at + 1))
        semicolons.push_back(at + 1);
    EXPECT_EQ(run.givenAtReport, semicolons);
}

TEST_F(SessionWithEcho, StreamReportsSyntaxErrorsWithTheirLineAndGoesOnWhenAsked)
{
    const std::string input = "echoInt 1;\n\nechoInt 2; int $a = ;\nechoInt 3;";
    std::size_t given = 0;
    std::string transcript;
    bool readFailed = false;
    const bool succeeded = session.runStream(
        [&](char* buffer, std::size_t size) -> long {
            const std::size_t count = std::min(size, input.size() - given);
            std::memcpy(buffer, input.data() + given, count);
            given += count;
            return static_cast<long>(count);
        },
        true, [&](const mel::StatementOutcome& outcome) { hostbatch::appendText(transcript, outcome); },
        readFailed);
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(transcript,
        "// Result: 1 //\n// Result: 2 //\n// Error: line 3.21: expected an expression, found ';' //\n// "
        "Result: "
        "3 "
        "//\n");
}

// A statement that never ends (`yes | hostbatch -`) ends the source at the
// limit, even when going on after errors.
TEST_F(SessionWithEcho, StreamEndsAtAStatementPastTheLimit)
{
    mel::Limits limits;
    limits.sourceSize = 100;
    session.interpreter().setLimits(limits);
    std::string transcript;
    bool readFailed = false;
    long reads = 0;
    const bool succeeded = session.runStream(
        [&](char* buffer, std::size_t size) -> long {
            ++reads;
            std::memset(buffer, 'y', size);
            buffer[0] = '\n';
            return static_cast<long>(std::min<std::size_t>(size, 64));
        },
        true, [&](const mel::StatementOutcome& outcome) { hostbatch::appendText(transcript, outcome); },
        readFailed);
    EXPECT_FALSE(succeeded);
    EXPECT_FALSE(readFailed);
    EXPECT_EQ(transcript, "// Error: line 1.1: a statement of more than 100 bytes //\n");
    EXPECT_EQ(reads, 2);
}

}  // namespace
