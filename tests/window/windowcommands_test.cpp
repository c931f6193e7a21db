// The window's commands against a scripted face (the dialogs answered from a script, what they
// showed logged), as both faces drive them: what the save dialog proposes and adds, which message
// says what with which detail, and the record each save filter writes.
#include "../support/testfiles.h"

#include "commands.h"
#include "recordname.h"
#include "utf8codec.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

using namespace quillarn;
using testing_support::readBytes;
using testing_support::ScratchDir;
using testing_support::writeBytes;

namespace {

std::string utf8(const std::u16string &text)
{
    return encodeUtf8(text);
}

std::u16string utf16(const std::string &text)
{
    return decodeUtf8(text);
}

// A face whose dialogs answer from a script, in order, and log what they showed: "message TEXT"
// ("message TEXT | DETAIL" with a detail), "question TEXT", "open PATH", "save PATH" (the path
// proposed). A file dialog's answer is a path, typed with the filter given, or empty: cancelled.
class ScriptedFace : public WindowFace {
public:
    struct Answer {
        Answer(int button = msgBoxOk, std::u16string path = {}, int filter = 1)
            : button(button), path(std::move(path)), filter(filter)
        {
        }
        int button;
        std::u16string path;
        int filter;
    };
    std::deque<Answer> script;
    std::vector<std::string> log;
    std::u16string shown[2];

    int msgBox(const std::u16string &prompt, MsgBoxStyle style, const std::u16string &,
               const std::u16string &detail) override
    {
        const bool question = style == MsgBoxStyle::YesNoQuestion;
        log.push_back((question ? "question " : "message ") + utf8(prompt) +
                      (detail.empty() ? "" : " | " + utf8(detail)));
        const Answer answer = next();
        return question ? (answer.button == msgBoxYes ? msgBoxYes : msgBoxNo) : msgBoxOk;
    }
    bool showOpen(FileDialog &dialog) override { return file("open ", dialog); }
    bool showSave(FileDialog &dialog) override { return file("save ", dialog); }
    void showPath(int index, const std::u16string &text) override { shown[index] = text; }
    void exitProgram() override { log.push_back("exit"); }

private:
    Answer next()
    {
        if (script.empty()) {
            log.push_back("unexpected");
            return {};
        }
        Answer answer = script.front();
        script.pop_front();
        return answer;
    }
    bool file(const char *kind, FileDialog &dialog)
    {
        log.push_back(kind + utf8(dialog.FileName));
        const Answer answer = next();
        if (answer.path.empty())
            return false;
        dialog.FileName = answer.path;
        dialog.FilterIndex = answer.filter;
        return true;
    }
};

struct Scripted {
    ScriptedFace face;
    WindowCommands commands{face};
};

std::u16string pathOf(const ScratchDir &dir, const std::string &name)
{
    return utf16((dir.path() / std::filesystem::u8path(name)).u8string());
}

} // namespace

TEST(SaveProposal, CutsTheExtensionOfTheFileNameOnly)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"/home/j.smith/games/a.ugi", u"/home/j.smith/games/a"},
        {u"C:\\games.2000\\a.ugi", u"C:\\games.2000\\a"},
        {u"C:\\k\\a.sgf", u"C:\\k\\a"},
        {u"/k/a.b.ugi", u"/k/a.b"},
        {u"/k/.a.ugi", u"/k/.a"},
        {u"/k/.profile", u"/k/.profile"},
        {u"/k.d/abc", u"/k.d/abc"},
        {u".ugi", u".ugi"},
        {u"", u""},
    };
    for (const auto &[path, proposed] : cases) {
        EXPECT_EQ(withoutExtension(path), proposed) << utf8(path);
        // The save filter's ".sgf" after it gives the name ugi2sgf's batch gives the record.
        const std::size_t nameStart = path.find_last_of(u"/\\") + 1;
        EXPECT_EQ(targetFileName(utf8(path.substr(nameStart))), utf8(proposed.substr(nameStart)) + ".sgf");
    }
    // A name typed without an extension gets the one of the filter in use, and only then.
    EXPECT_EQ(filterPattern(saveFilter, 1), u"*.sgf");
    EXPECT_EQ(filterPattern(saveFilter, 2), u"*.mgt");
    EXPECT_EQ(filterPattern(saveFilter, 3), u"*.*");
    EXPECT_EQ(filterPattern(saveFilter, utf8SaveFilter), u"*.sgf");
    const std::pair<std::u16string, std::u16string> named[] = {
        {u"/k/a", u"/k/a.sgf"}, {u"/k.d/a", u"/k.d/a.sgf"}, {u"/k/a.txt", u"/k/a.txt"}, {u"/k/", u"/k/"}};
    for (const auto &[path, written] : named)
        EXPECT_EQ(withFilterExtension(path, u"*.sgf"), written) << utf8(path);
    EXPECT_EQ(withFilterExtension(u"/k/a", u"*.*"), u"/k/a");
}

// The messages of the window say what its detail says: why a name is refused, the warnings of a
// record that was written, a failure's reason (a save over the record's own source among them);
// each in ugi2sgf's words, the source first.
TEST(WindowCommands, EveryMessageCarriesItsDetail)
{
    ScratchDir dir;
    const std::string data = QUILLARN_TEST_DATA;
    writeBytes(dir / "illegal.ugi", readBytes(data + "/illegal-moves.ugi"));
    writeBytes(dir / "missing.ugi", readBytes(data + "/missing-date.ugi"));
    Scripted run;
    const std::u16string sgf = pathOf(dir, "a.sgf");
    run.face.script = {{msgBoxOk}, {msgBoxOk, pathOf(dir, "illegal")},
                       {msgBoxOk}, {msgBoxOk, pathOf(dir, "illegal.ugi"), 3},
                       {msgBoxOk}, {msgBoxOk}};
    run.commands.chooseSource(sgf);
    run.commands.chooseSource(pathOf(dir, "illegal.ugi"));
    run.commands.mnuConvItem_Click(0);
    const std::u16string written = run.face.shown[1];
    run.commands.mnuConvItem_Click(0); // saved over its own source: refused, whatever the question
    run.commands.chooseSource(pathOf(dir, "missing.ugi"));
    run.commands.mnuConvItem_Click(0);
    const std::string illegal = utf8(pathOf(dir, "illegal.ugi"));
    EXPECT_EQ(run.face.log, (std::vector<std::string>{
                                "message このﾌｧｲﾙは変換できません | " + utf8(sgf) +
                                    ": 名前が .ugi で終わるファイルだけが UGI の棋譜です",
                                "save " + utf8(pathOf(dir, "illegal")),
                                "message 正常に変換が終了しました | " + illegal +
                                    ": 2 子局ですが白が先に打っていません: 置き石（AB）は書いていません\n" +
                                    illegal + ": 4 手目（W pd） は石のある点に打たれています",
                                "save " + utf8(pathOf(dir, "illegal")),
                                "message 異常終了しました | " + illegal + ": 変換先 " + illegal +
                                    " は変換元を置き換えてしまいます",
                                "message 異常終了しました | " + utf8(pathOf(dir, "missing.ugi")) +
                                    ": ヘッダーにキー「Date=」がありません"}));
    EXPECT_EQ(written, pathOf(dir, "illegal.sgf"));
    EXPECT_EQ(readBytes(dir / "illegal.ugi"), readBytes(data + "/illegal-moves.ugi"));
}

// The first filters write code page 932, the last UTF-8, each the bytes ugi2sgf writes; a path in
// any script, and one longer than Windows' 260 characters, opens and saves.
TEST(WindowCommands, EachSaveFilterWritesItsEncoding)
{
    ScratchDir scratch;
    const std::string data = QUILLARN_TEST_DATA;
    const std::string source = readBytes(data + "/japanese-names.ugi");
    const std::filesystem::path dir = scratch.path() / std::string(150, 'd') / std::string(150, 'e');
    std::filesystem::create_directories(dir);
    const auto pathIn = [&](const std::string &name) {
        return decodeUtf8((dir / std::filesystem::u8path(name)).u8string());
    };
    writeBytes(dir / std::filesystem::u8path("한국 é.ugi"), source);
    Scripted run;
    run.commands.chooseSource(pathIn("한국 é.ugi"));
    for (const int filter : {1, utf8SaveFilter}) {
        run.face.script = {{msgBoxOk, pathIn("out" + std::to_string(filter)), filter}, {msgBoxOk}};
        run.commands.mnuConvItem_Click(0);
        const RecordEncoding encoding = filter == 1 ? RecordEncoding::Ansi : RecordEncoding::Utf8;
        EXPECT_EQ(readBytes(dir / ("out" + std::to_string(filter) + ".sgf")),
                  convertSource(source, {SourceEncoding::Auto, encoding}).bytes)
            << filter;
    }
    EXPECT_EQ(run.face.log.back(), "message 正常に変換が終了しました");
}
