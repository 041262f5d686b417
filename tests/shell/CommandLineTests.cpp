#include "TranslateMac/Shell/CommandLine.h"

#include "BuildInfo.h"

#include <gtest/gtest.h>

using namespace TranslateMac;

namespace {

const QString versionLine = QStringLiteral(
    "Quorvel Translate " QUORVEL_VERSION_STRING " (" QUORVEL_BUILD_NUMBER_STRING ")\n");

QStringList command(std::initializer_list<const char *> options)
{
    QStringList arguments { QStringLiteral("quorvel-translate") };
    for (const char *option : options)
        arguments << QString::fromUtf8(option);
    return arguments;
}

struct EarlyCase {
    const char *name;
    std::initializer_list<const char *> options;
    // The program answers on the command line (exit 0); otherwise it goes on to start.
    bool answers;
    bool version;
};

const EarlyCase earlyCases[] = {
    { "NoOptionsStart", {}, false, false },
    { "LongVersion", { "--version" }, true, true },
    { "ShortVersion", { "-v" }, true, true },
    { "LongHelp", { "--help" }, true, false },
    { "ShortHelp", { "-h" }, true, false },
    { "HelpWinsOverAnUnknownOption", { "--frobnicate", "--help" }, true, false },
    { "VersionAfterQtsOwnOption", { "-platform", "offscreen", "--version" }, true, true },
    { "QtsOptionsStart", { "-platform", "offscreen", "-display", ":0" }, false, false },
    // Qt's single-dash words must not read as compacted -v or -h.
    { "ReverseIsNotVersion", { "-reverse" }, false, false },
    { "StylesheetIsNotHelp", { "-stylesheet", "x.qss" }, false, false },
    { "UnknownOptionIsLeftForLater", { "--frobnicate" }, false, false },
};

class EarlyOptions : public ::testing::TestWithParam<EarlyCase> { };

TEST_P(EarlyOptions, AnswerOnlyHelpAndVersion)
{
    const EarlyCase &c = GetParam();
    const std::optional<CommandLineAnswer> answer
        = CommandLine::answerBeforeApplication(command(c.options));
    ASSERT_EQ(answer.has_value(), c.answers);
    if (!answer)
        return;
    EXPECT_EQ(answer->exitCode, 0);
    EXPECT_EQ(answer->error, QString());
    if (c.version) {
        EXPECT_EQ(answer->output, versionLine);
    } else {
        EXPECT_TRUE(
            answer->output.startsWith(QStringLiteral("Usage: quorvel-translate [options]\n")))
            << answer->output.toStdString();
        EXPECT_TRUE(answer->output.contains(QStringLiteral("-h, --help")));
        EXPECT_TRUE(answer->output.contains(QStringLiteral("-v, --version")));
        EXPECT_TRUE(answer->output.contains(QStringLiteral("--list-sessions")));
        EXPECT_TRUE(answer->output.contains(QStringLiteral("--export SESSION")));
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, EarlyOptions, ::testing::ValuesIn(earlyCases),
    [](const auto &info) { return std::string(info.param.name); });

struct LeftoverCase {
    const char *name;
    std::initializer_list<const char *> options;
    // The first line on standard error; empty when the program goes on to start.
    const char *complaint;
};

const LeftoverCase leftoverCases[] = {
    { "NothingLeftStarts", {}, "" },
    { "UnknownLongOption", { "--frobnicate" }, "quorvel-translate: unknown option '--frobnicate'" },
    { "UnknownShortOption", { "-x" }, "quorvel-translate: unknown option '-x'" },
    { "UnknownOptionWithValue", { "--mode=fast" },
        "quorvel-translate: unknown option '--mode=fast'" },
    { "FirstOfSeveralUnknown", { "--one", "--two" }, "quorvel-translate: unknown option '--one'" },
    { "StrayArgument", { "song.mp3" }, "quorvel-translate: unexpected argument 'song.mp3'" },
};

class LeftoverArguments : public ::testing::TestWithParam<LeftoverCase> { };

TEST_P(LeftoverArguments, AreRefusedWithExitTwoAndAHint)
{
    const LeftoverCase &c = GetParam();
    const std::optional<CommandLineAnswer> answer
        = CommandLine::refuseLeftoverArguments(command(c.options));
    if (QString::fromUtf8(c.complaint).isEmpty()) {
        EXPECT_FALSE(answer.has_value());
        return;
    }
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->exitCode, 2);
    EXPECT_EQ(answer->output, QString());
    EXPECT_EQ(answer->error,
        QString::fromUtf8(c.complaint)
            + QStringLiteral("\nTry 'quorvel-translate --help' for more information.\n"));
}

INSTANTIATE_TEST_SUITE_P(CommandLine, LeftoverArguments, ::testing::ValuesIn(leftoverCases),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CommandLine, UnansweredHandOverExitsOneWithAMessage)
{
    const CommandLineAnswer answer = CommandLine::instanceNotAnswering();
    EXPECT_EQ(answer.exitCode, 1);
    EXPECT_EQ(answer.output, QString());
    EXPECT_EQ(answer.error,
        QStringLiteral("quorvel-translate: Quorvel Translate is already running for this user but "
                       "does not answer; end it or try again in a moment.\n"));
}

} // namespace
