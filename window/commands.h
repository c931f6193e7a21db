// The window's commands, written once for both of its faces (the Qt window, frmmain.h, and the
// Windows one, windows/frmmain_windows.cpp): what the open, save, convert, version and exit commands
// do, which message says what, and what the path fields show. A face only draws: it gives the
// commands its message boxes, its file dialogs and its two path fields through WindowFace. No
// toolkit here, so the commands are tested once, against a scripted face.
#pragma once

#include "convert.h"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillarn {

// Button sets of a message box, valued as their numeric styles.
enum class MsgBoxStyle {
    OkOnly = 0,
    YesNoQuestion = 4 + 32 + 256, // Yes and No, question icon, No (the second button) the default
};

// Button codes a message box returns.
constexpr int msgBoxOk = 1;
constexpr int msgBoxYes = 6;
constexpr int msgBoxNo = 7;

// The file dialog dlg1, shared by the open and the save command: its filters ("description|pattern"
// pairs, patterns separated by ";"), the 1-based filter selected, and the path it shows on opening
// and gives back on closing, which carries over from one use to the next.
struct FileDialog {
    std::u16string Filter;
    int FilterIndex = 1;
    std::u16string FileName;
};

// What a face gives the commands.
class WindowFace {
public:
    virtual ~WindowFace() = default;

    // Shows prompt in a modal message box titled title ("Quillarn" when empty) and returns the code of
    // the button pressed: msgBoxOk for OkOnly; msgBoxYes or msgBoxNo for YesNoQuestion, where closing
    // the box counts as No. A detail, when there is one, is there for who asks (a detailed text, a
    // task dialog's expanded information), so that the prompt stays as it is.
    virtual int msgBox(const std::u16string &prompt, MsgBoxStyle style = MsgBoxStyle::OkOnly,
                       const std::u16string &title = {}, const std::u16string &detail = {}) = 0;
    // Shows the modal open or save dialog of dialog: its filters, FilterIndex selected, FileName
    // proposed. Returns false when it is cancelled (dialog as it was); otherwise sets FileName to
    // the path chosen (which need not exist; the save dialog asks nothing about overwriting) and
    // FilterIndex to the filter in use.
    virtual bool showOpen(FileDialog &dialog) = 0;
    virtual bool showSave(FileDialog &dialog) = 0;
    // Shows text in the path field lblPath(index), 0 the source, 1 the file written.
    virtual void showPath(int index, const std::u16string &text) = 0;
    // Ends the program at once.
    virtual void exitProgram() = 0;
    // Returns the record file for the source bytes in encoding (convertSource). A step of the face so
    // that tests can make it fail as only a machine short of memory would.
    virtual Conversion convert(std::string_view source, RecordEncoding encoding)
    {
        return convertSource(source, {SourceEncoding::Auto, encoding});
    }
};

// The open dialog's filters, and the save dialog's: SGF, MGT and all files, which write code page
// 932, and last SGF in UTF-8, which most SGF readers of today read right.
extern const std::u16string openFilter;
extern const std::u16string saveFilter;
constexpr int utf8SaveFilter = 4;

// Returns path with the extension of its file name (after the last "/" or "\") cut off, as
// extensionStart finds it: the name the save dialog proposes, which its filter makes NAME.sgf, as
// ugi2sgf's batch names the record (targetFileName).
std::u16string withoutExtension(const std::u16string &path);

// Returns the patterns of the filter at 1-based index in filter ("desc|*.sgf|desc|*.*"): "*.sgf".
std::u16string filterPattern(const std::u16string &filter, int index);

// Returns path with the extension of pattern ("*.sgf" gives ".sgf") added when its file name has
// none; a name with a "." in it, or a pattern without one plain extension ("*.*", "*"), leaves path as
// it is. Programs that open SGF records list *.sgf: a record saved as "kisei" would look lost.
std::u16string withFilterExtension(const std::u16string &path, const std::u16string &pattern);

// Returns the file-system path that a path of the window names: its UTF-16 as it stands on Windows,
// its UTF-8 elsewhere.
std::filesystem::path systemPathOf(const std::u16string &path);

// The commands of frmMain and its state: the texts
// fileHenkanmoto and fileHenkango, the captions of lblPath, the file dialog dlg1.
class WindowCommands {
public:
    explicit WindowCommands(WindowFace &face) : face_(face) {}

    // ﾌｧｲﾙ: 0 open, 3 exit (1, the save step, runs only as the tail of a conversion; 2 is the
    // separator). 変換 ▸ UGI→SGF. ﾍﾙﾌﾟ ▸ ﾊﾞｰｼﾞｮﾝ.
    void mnuFileItem_Click(int index);
    void mnuConvItem_Click(int index);
    void mnuHelpItem_Click(int index);

    // Does what ﾌｧｲﾙ ▸ 開く does once path is chosen: takes it as the source when it ends in .UGI,
    // otherwise says it cannot be converted. For a dropped file or one named on the command line.
    void chooseSource(const std::u16string &path);

    const std::u16string &lblPath(int index) const { return lblPath_[index]; }

private:
    // What the save step did, for the conversion command to report.
    enum class SaveOutcome { Written, Failed, Cancelled };

    SaveOutcome saveStep();
    void setHenkanmoto(const std::u16string &path);
    SaveOutcome saveHenkango(const std::u16string &path);
    void setPath(int index, const std::u16string &text);

    WindowFace &face_;
    std::array<std::u16string, 2> lblPath_;
    FileDialog dlg1;
    std::string fileHenkanmoto;     // the last source read, as its bytes
    std::string fileHenkango;       // the last record made, as the bytes the save step writes
    std::vector<Warning> warnings_; // the last record's, the detail of its success
    std::u16string saveFailure_;    // why the last save step failed: the detail of its message
};

} // namespace quillarn
