// The analysis against real runs: every surprise it reports is what the run
// of the same script does, and what it leaves unreported runs as written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vl_analysis.h"
#include "captured_run.h"
#include "vl_pipeline.h"
#include "vlvm.h"

namespace {


// "code@text" for each finding, the text being what its span covers.
std::vector<std::string> found(const std::string& source) {
    std::vector<std::string> out;
    for (const VlFinding& f : vl_analyse(source.c_str()).findings)
        out.push_back(std::string(f.code) + "@" + source.substr(f.span.offset, f.span.length));
    return out;
}

using List = std::vector<std::string>;

std::string apply(std::string source, const VlFix& fix) {
    return source.replace(fix.span.offset, fix.span.length, fix.text);
}

TEST(Analysis, TheSurprisesOfAScriptAreWhatItsRunDoes) {
    const std::string script =
        "start\n"
        "store total = total plus price\n"
        "count i from 1 to 10\n"
        "    display \"line \" plus i\n"
        "stop\n"
        "check total same 0\n"
        "    display \"nothing to pay\"\n"
        "display 2 plus 3 into 4\n"
        "stop\n";
    EXPECT_EQ(captured_run(script), "line 1\nnothing to pay\n20\n");
    EXPECT_EQ(found(script), (List{"reads-zero@total", "reads-zero@price", "count-runs-once@count",
                                   "check-skipped@check total same 0"}));
    VlAnalysis analysis = vl_analyse(script.c_str());
    ASSERT_EQ(analysis.hints.size(), 2u);
    EXPECT_EQ(script.substr(analysis.hints[0].offset, 1), "2");
    EXPECT_EQ(analysis.hints[0].label, "(");
    EXPECT_EQ(script.substr(analysis.hints[1].offset - 1, 2), "3 ");
    EXPECT_EQ(analysis.hints[1].label, ")");
}

TEST(Analysis, EachRowMatchesTheRun) {
    struct Case {
        const char* source;
        List findings;
        const char* output;
    };
    const Case cases[] = {
        {"count i from 1 to 3\ndisplay i\nstop\ndisplay i\n", {"count-runs-once@count"}, "1\n2\n"},
        // The skipped check takes its operator with it: nothing adds there.
        {"check 1 same 2\ndisplay 5\n", {"check-skipped@check 1 same 2"}, "5\n"},
        {"otherwise display 7\n", {"otherwise-skipped@otherwise"}, "7\n"},
        {"display 2 same 3 big 1 small 1\n", {"adds-like-plus@same", "adds-like-plus@big", "adds-like-plus@small"}, "7\n"},
        {"display x\nstore x = 1\ndisplay x\n", {"reads-zero@x"}, "0\n1\n"},
        // Stored on an earlier line of the same body: it has its value.
        {"count i 1 2\nstore y = i\ndisplay y\nstop\n", {"count-runs-once@count"}, "1\n"},
        // A store reads its value before it binds the name; a count its start.
        {"store t = t plus 1\ndisplay t\n", {"reads-zero@t"}, "1\n"},
        {"count i from i to 3\ndisplay i\nstop\n", {"count-runs-once@count", "reads-zero@i"}, "0\n"},
        {"x = 1\ndisplay 2\n", {"skipped-word@x = 1"}, "2\n"},
        {"display 1\nstop\ndisplay 2\n", {"after-stop@display 2"}, "1\n"},
        {"store unused = 4\ndisplay 1\n", {"never-read@unused"}, "1\n"},
        {"display \"a\" minus 1\n", {"text-counts-as-zero@minus"}, "-1\n"},
        {"store s = \"a\" plus 1\ndisplay 3 into s\n", {"text-counts-as-zero@into"}, "0\n"},
        // After a count the variable is its start plus 1: a text start stays text.
        {"count c from \"a\" to 1\nstop\ndisplay c divided by 2\n", {"count-runs-once@count", "text-counts-as-zero@divided by"},
         "0\n"},
        {"store n = 4\ndisplay n minus 1 into 2\n", {}, "6\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(found(c.source), c.findings);
        EXPECT_EQ(captured_run(c.source), c.output);
    }
}

TEST(Analysis, SyntaxErrorsStayAndWhatTheyExplainIsNotFlaggedTwice) {
    // The parser skips "plus 1" after the error; the error says so already.
    EXPECT_EQ(found("display plus 1\n"), (List{"syntax-error@plus"}));
    EXPECT_EQ(found("store 5 = 1\n"), (List{"syntax-error@5"}));

    // Long enough that the words' copies outgrow the lexer's first block.
    std::string many;
    const std::string name = "a_name_long_enough_that_its_copies_fill_blocks_";
    for (int i = 0; i < 1500; i++) many += "store " + name + std::to_string(i) + " = 1 same " + name + std::to_string(i) + "\n";
    many += "display\n";
    VlAnalysis analysis = vl_analyse(many.c_str());
    EXPECT_EQ(analysis.findings.size(), VL_MAX_FINDINGS);
    EXPECT_EQ(analysis.findings.back().code, "syntax-error");
    for (const VlFix& fix : analysis.fixes) ASSERT_LT(fix.finding, analysis.findings.size());
}

TEST(Analysis, HintsShowTheGroupingThatIsNotWritten) {
    auto hints = [](const std::string& source) {
        std::string shown = source;
        VlAnalysis analysis = vl_analyse(source.c_str());
        for (auto it = analysis.hints.rbegin(); it != analysis.hints.rend(); ++it) shown.insert(it->offset, it->label);
        return shown;
    };
    EXPECT_EQ(hints("display 1 plus 2 plus 3 plus 4"), "display ((1 plus 2) plus 3) plus 4");
    EXPECT_EQ(hints("display (1 plus 2) into 3"), "display (1 plus 2) into 3");
    EXPECT_EQ(hints("display 1 plus (2 minus 3 into 4)"), "display 1 plus ((2 minus 3) into 4)");
    EXPECT_EQ(hints("display (a) plus b plus (c"), "display ((a) plus b) plus (c");
}

TEST(Analysis, EachFixRemovesItsFindingAndKeepsTheOutput) {
    const std::string scripts[] = {
        "display 2 same 3\n",
        "start\n    display total plus 1\n    display total\nstop\n",
        "check x big 1\ndisplay 4\n",
        "store a = 1 display b\n",
    };
    for (const std::string& script : scripts) {
        SCOPED_TRACE(script);
        VlAnalysis analysis = vl_analyse(script.c_str());
        ASSERT_FALSE(analysis.fixes.empty());
        const VlFix& fix = analysis.fixes.front();
        std::string fixed = apply(script, fix);
        EXPECT_EQ(captured_run(fixed), captured_run(script)) << fixed;
        std::string code(analysis.findings[fix.finding].code);
        for (const std::string& left : found(fixed)) EXPECT_NE(left.substr(0, code.size() + 1), code + "@") << fixed;
    }
}

TEST(Analysis, UsesFoldsAndOutline) {
    const std::string script =
        "start\n"
        "// one\n"
        "// two\n"
        "store x = 1\n"
        "count i 1 2\n"
        "    store y = x plus \"x\" // x\n"
        "stop\n"
        "check x\n"
        "stop\n";
    VlAnalysis analysis = vl_analyse(script.c_str());
    std::string kinds;
    for (const VlUse& use : vl_analysis_uses(analysis, script.c_str(), "x"))
        kinds += "mrw"[int(use.kind)];
    EXPECT_EQ(kinds, "wrm");  // never in the string or the comment

    ASSERT_EQ(analysis.outline.size(), 2u);
    EXPECT_EQ(analysis.outline[0].name, "x");
    EXPECT_EQ(analysis.outline[1].name, "count i");
    ASSERT_EQ(analysis.outline[1].children.size(), 2u);
    EXPECT_EQ(analysis.outline[1].children[1].name, "y");

    ASSERT_EQ(analysis.folds.size(), 3u);  // start…stop, the comments, the count
    EXPECT_TRUE(analysis.folds[1].comment);
    EXPECT_EQ(script.substr(analysis.folds[2].to, 4), "stop");

    EXPECT_TRUE(vl_is_name("total_2"));
    for (const char* word : {"count", "divided by", "2x", "a b", "", "x-1"}) EXPECT_FALSE(vl_is_name(word)) << word;
}

}  // namespace
