// The debugger's engine against real runs: stepping through a script shows
// what its run displays, once, and every point reached by going back holds
// the names and registers that going forward to it holds.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../../fuzz/program_generator.h"
#include "vl_debugger.h"
#include "captured_run.h"
#include "vl_pipeline.h"

namespace {


struct Session {
    VlDebugger debugger;
    std::string shown;

    explicit Session(const std::string& source, size_t history = VL_DEBUG_HISTORY_BYTES) : debugger(history) {
        debugger.set_output([this](std::string_view text, VlDebugOutputKind) { shown += text; });
        EXPECT_TRUE(debugger.load(source)) << debugger.error();
    }
    VlStopReason go(VlMotion motion) {
        VlStopReason reason = debugger.start(motion);
        while (reason == VlStopReason::running) reason = debugger.advance(1000);
        return reason;
    }
    // Everything that can be seen where it stands.
    std::string state() const {
        std::string text = std::to_string(debugger.pc());
        for (const VlDebugVariable& v : debugger.names()) text += " " + v.name + "=" + v.value;
        for (const VlDebugVariable& v : debugger.machine()) text += " " + v.name + "=" + v.value;
        return text;
    }
};

TEST(Debugger, SteppingARandomProgramShowsItsRunOnceAndGoingBackFindsEachStateAgain) {
    std::mt19937 random(20261210);
    int programs = 0;
    for (int n = 0; n < 300; n++) {
        std::vector<uint8_t> bytes(200 + random() % 600);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        vl_generated::Generator generator;
        generator.in = {bytes.data(), bytes.size()};
        generator.statements(0, "");
        const std::string& source = generator.source;
        ASSERT_EQ(captured_run(source), generator.expected) << source;

        Session session(source);
        std::vector<std::string> states;
        VlStopReason reason = session.debugger.enter();
        while (reason != VlStopReason::ended) {
            states.push_back(session.state());
            reason = session.go(VlMotion::step);
        }
        ASSERT_EQ(session.shown, generator.expected) << source;
        ASSERT_EQ(states.size(), session.debugger.statements().size()) << "each statement is stopped at once";

        // Back from the end is refused; from the last statement, every
        // statement before it is found as it was, and going forward again
        // shows nothing a second time.
        EXPECT_EQ(session.go(VlMotion::back), VlStopReason::refused);
        if (states.empty()) continue;
        Session again(source);
        ASSERT_EQ(again.debugger.enter(), VlStopReason::entry);
        for (size_t i = 1; i < states.size(); i++) ASSERT_EQ(again.go(VlMotion::step), VlStopReason::step);
        ASSERT_EQ(again.state(), states.back());
        for (size_t i = states.size() - 1; i-- > 0;) {
            ASSERT_EQ(again.go(VlMotion::back), VlStopReason::step);
            ASSERT_EQ(again.state(), states[i]) << source;
        }
        EXPECT_EQ(again.go(VlMotion::back), VlStopReason::refused);
        EXPECT_EQ(again.go(VlMotion::proceed), VlStopReason::ended);
        EXPECT_EQ(again.shown, generator.expected) << source;
        programs++;
    }
    EXPECT_GT(programs, 250);
}

// Joins made by the thousand fill the machine's string spaces, which move
// the texts that registers hold: the kept states must hold the texts, not
// where they were.
TEST(Debugger, GoingBackAcrossCollectionsOfTheStringsRestoresTheTexts) {
    std::string source = "store s = \"\"\n";
    for (int i = 0; i < 12000; i++)
        source += "store s = s plus \"" + std::to_string(i % 97) + "-\"\nstore t = \"n\" plus " + std::to_string(i) + "\n";
    source += "display s\ndisplay t\n";
    Session forward(source);
    std::vector<std::string> states;
    for (VlStopReason r = forward.debugger.enter(); r != VlStopReason::ended; r = forward.go(VlMotion::step))
        states.push_back(forward.state());
    ASSERT_EQ(forward.shown, captured_run(source));
    // From the last statement back to points far apart, and one back from each.
    for (size_t target : {states.size() - 2, size_t{17000}, size_t{9001}, size_t{4096}, size_t{1}}) {
        Session back(source);
        ASSERT_EQ(back.debugger.enter(), VlStopReason::entry);
        VlBreakpointRequest last{static_cast<int32_t>(states.size()), "", "", ""};
        ASSERT_TRUE(back.debugger.set_breakpoints({last})[0].verified);
        ASSERT_EQ(back.go(VlMotion::proceed), VlStopReason::breakpoint);
        ASSERT_EQ(back.state(), states.back());
        VlBreakpointRequest there{static_cast<int32_t>(target + 1), "", "", ""};
        ASSERT_TRUE(back.debugger.set_breakpoints({there})[0].verified);
        ASSERT_EQ(back.go(VlMotion::reverse), VlStopReason::breakpoint);
        EXPECT_EQ(back.state(), states[target]);
        if (target > 0) {
            ASSERT_EQ(back.go(VlMotion::back), VlStopReason::step);
            EXPECT_EQ(back.state(), states[target - 1]);
        }
    }
}

TEST(Debugger, TheHistoryCoversAMillionStatementsAndRefusesPastWhatItKeeps) {
    std::string source;
    for (int i = 0; i < 1000000; i++) source += i % 2 ? "store a = a plus 1\n" : "store b = a into 2\n";
    source += "display a\n";
    Session session(source);
    VlBreakpointRequest last{1000001, "", "", ""};
    ASSERT_TRUE(session.debugger.set_breakpoints({last})[0].verified);
    ASSERT_EQ(session.go(VlMotion::proceed), VlStopReason::breakpoint);
    EXPECT_EQ(session.debugger.history_statements(), 1000000u);
    ASSERT_EQ(session.debugger.set_breakpoints({}).size(), 0u);
    ASSERT_EQ(session.go(VlMotion::reverse), VlStopReason::entry);
    EXPECT_EQ(session.debugger.current_statement()->line, 1);
    EXPECT_EQ(session.go(VlMotion::proceed), VlStopReason::ended);
    EXPECT_EQ(session.shown, "500000\n");

    // A small budget keeps only the latest states: going further back is refused, and says why.
    Session small(source, 256 * 1024);
    ASSERT_TRUE(small.debugger.set_breakpoints({last})[0].verified);
    ASSERT_EQ(small.go(VlMotion::proceed), VlStopReason::breakpoint);
    uint64_t kept = small.debugger.history_statements();
    EXPECT_GT(kept, 10000u);
    EXPECT_LT(kept, 1000000u);
    EXPECT_EQ(small.go(VlMotion::back), VlStopReason::step);
    ASSERT_EQ(small.go(VlMotion::reverse), VlStopReason::step);  // the oldest statement kept
    EXPECT_EQ(small.go(VlMotion::back), VlStopReason::refused);
    EXPECT_NE(small.debugger.refusal().find("history reaches back only"), std::string::npos) << small.debugger.refusal();
}

// A store typed while stopped changes the run from there: the future is run
// and shown anew, and going back before the store and forward again meets it.
TEST(Debugger, AStoreWhileStoppedChangesTheRunFromThere) {
    const std::string source = "store x = 1\ndisplay x\nstore y = x plus 10\ndisplay y\n";
    Session session(source);
    ASSERT_EQ(session.debugger.enter(), VlStopReason::entry);
    ASSERT_EQ(session.go(VlMotion::step), VlStopReason::step);
    ASSERT_EQ(session.go(VlMotion::step), VlStopReason::step);  // at the store of y, "1" shown
    EXPECT_FALSE(session.debugger.evaluate("store x = 5", false).ok);
    EXPECT_EQ(session.debugger.evaluate("x plus 1", false).value, "2");
    EXPECT_FALSE(session.debugger.evaluate("y plus z", false).ok);  // z is no name of the script
    EXPECT_EQ(session.debugger.evaluate("y", false).value, "0");    // not stored yet: reads 0
    EXPECT_EQ(session.debugger.evaluate("store x = \"a\" plus x", true).value, "\"a1\"");
    ASSERT_EQ(session.go(VlMotion::back), VlStopReason::step);
    EXPECT_EQ(session.debugger.evaluate("x", false).value, "1");
    ASSERT_EQ(session.go(VlMotion::step), VlStopReason::step);
    EXPECT_EQ(session.debugger.evaluate("x", false).value, "\"a1\"");
    EXPECT_EQ(session.go(VlMotion::proceed), VlStopReason::ended);
    EXPECT_EQ(session.shown, "1\na110\n");
}

// Going forward over the history meets a log point or a counted breakpoint
// as at the first time, without writing or counting it again.
TEST(Debugger, ReplayedBreakpointsAreNotCountedOrLoggedAgain) {
    Session session("store x = 1\ndisplay x\nstore x = 2\ndisplay x\n");
    auto results = session.debugger.set_breakpoints({{2, "", "", "at {x}"}, {3, "", "1", ""}, {4, "x", "", ""}});
    ASSERT_TRUE(results[0].verified && results[1].verified && results[2].verified);
    ASSERT_EQ(session.go(VlMotion::proceed), VlStopReason::breakpoint);  // line 3, its first hit
    ASSERT_EQ(session.go(VlMotion::back), VlStopReason::step);
    ASSERT_EQ(session.go(VlMotion::back), VlStopReason::step);
    ASSERT_EQ(session.go(VlMotion::proceed), VlStopReason::breakpoint);
    EXPECT_EQ(session.debugger.current_statement()->line, 3);
    ASSERT_EQ(session.go(VlMotion::proceed), VlStopReason::breakpoint);
    EXPECT_EQ(session.debugger.current_statement()->line, 4);
    EXPECT_EQ(session.shown, "at 1\n1\n");
}

}  // namespace
