// What the program says when something fails or a record converts with a warning: a reason is one
// entry of a catalogue of texts in English and Japanese with its values (a line, a move, a byte, a
// path) filled in, so that every front end can say it in its user's language.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace quillarn {

enum class Language : std::uint8_t { English, Japanese };

// The entries of the catalogue (catalogue.cpp). Text is a value said as it stands in every language (a
// name, a number, a system's own words); System is a system's error, said in Japanese by our own
// words for the common ones.
enum class Said : std::uint16_t {
    Text,
    System,
    Joined,
    // Where in the record.
    Line,
    LineOfMove,
    ShownInBrackets,
    // The header and the data lines.
    MissingHeader,
    MissingHeaderKey,
    NoCrLfLineEnds,
    NoCrLfAfterKey,
    NoCommaInValue,
    NoSecondCommaInValue,
    NoCommaInLine,
    DateTooLong,
    CommaBeyondReach,
    CommaAtPosition,
    NoColour,
    ColourNotALetter,
    LineEndsLf,
    LineEndsCr,
    GrownTooLarge,
    LfWithoutCr,
    CrWithoutLf,
    PositionOutOfRange16,
    Overflow16,
    Overflow32,
    TextTooLong,
    PositionTooLarge,
    StartPosition,
    LengthNegative,
    // What the file is.
    Utf32Text,
    Utf16Text,
    BinaryData,
    AlreadySgf,
    NoHeaderSection,
    AfterByteOrderMark,
    ReadAsUtf8AlsoCp932,
    ReadAsCp932AlsoUtf8,
    // Characters and bytes.
    ByteNotUtf8,
    BytesNotUtf8,
    UndecodedNotUtf8,
    SurrogateNotUtf8,
    SurrogateNotCp932,
    CharacterNotCp932,
    ShownCharacterNotCp932,
    UndecodedBefore,
    // The moves and the game.
    NoDataSection,
    NotAMove,
    NotAMoveNorOneMore,
    NotAMoveNorMore,
    MoveRepeated,
    MoveMissing,
    MovesMissing,
    OneMoveRead,
    MovesRead,
    MoveName,
    PassName,
    NeitherColour,
    OffTheBoard,
    OnAStone,
    Suicide,
    KoRetaken,
    SizeNotReplayed,
    BoardSizeNotReplayed,
    HandicapNotANumber,
    HandicapWithoutPlacement,
    HandicapWhiteNotFirst,
    HandicapOnAStone,
    // An SGF record read for its board.
    SgfOffset,
    NotSgf,
    SgfTooLarge,
    SgfTreeNotClosed,
    SgfTreeWithoutNode,
    SgfUnexpected,
    SgfPropertyOutsideNode,
    SgfPropertyWithoutValue,
    SgfValueNotClosed,
    SgfSizeNot2To25,
    SgfBoardNotSquare,
    // Files.
    SourceTooLarge,
    SourceOverLimit,
    NotARegularFile,
    TooLarge,
    ChangedWhileRead,
    NothingWritten,
    ReadOnly,
    InUse,
    FolderNotFlushed,
    AnotherUsersLink,
    BlockDevice,
    Socket,
    SpecialInBatch,
    OutputIsSource,
    AlsoTheOutputOf,
    NoUgiRecords,
    LeftOutOfZip,
    CannotWrite,
    CannotCreateFolder,
    OutOfMemory,
    UnknownFailure,
    NotAUgiName,
    // What ugi2sgf adds: the option that gives another outcome.
    WrittenWithUtf8,
    ReadAsUtf8,
    ReadAsCp932,
    HeldBack,
    OutputExists,
    ItIsAFolder,
    Skipped,
    MoreThanBytes,
    StandardInputFile,
    StandardOutputEmptied,
    StandardOutputWrittenInto,
    Cp932OnTerminal,
    StandardOutputName,
    LookingInFolders,
    ConvertAlone,
    OneSharesOutput,
    SomeShareOutputs,
    OneSkipped,
    SomeSkipped,
    StoppedOneNotWritten,
    StoppedNotWritten,
    DiskFull,
    NoOutputFolder,
    SummaryConverted,
    SummaryWithWarnings,
    SummaryUpdated,
    SummaryFailedSkipped,
    SummaryNotWritten,
    SummaryInterrupted,
    SummaryRestNotLookedAt,
    // ugi2sgf's usage errors.
    OptionONeedsName,
    OptionDNeedsName,
    SourceEncodingNeedsName,
    EncodingNeedsName,
    UnknownOption,
    UnknownSourceEncoding,
    UnknownEncoding,
    NoInputFile,
    FolderOrInPlace,
    OneRecordOnly,
    StandardInputInBatch,
    OutputTakesOneInput,
    SeveralInputs,
    InputIsAFolder,
    OutputFolderIsNot,
    TryHelp,
    Count
};

// The errors of the file system's calls beside the system's own: a source that is read
// (FileSystem::readFile), a write that nothing takes.
enum class FileError { NotRegular = 1, TooLarge, Changed, NothingWritten };
const std::error_category &fileErrorCategory();
inline std::error_code make_error_code(FileError error)
{
    return {static_cast<int>(error), fileErrorCategory()};
}

// One thing said: an entry and its values, each a reason of its own (most of them Text).
class Reason {
public:
    Reason() = default;
    Reason(std::string text) : text_(std::move(text)) {}
    Reason(const char *text) : text_(text) {}
    Reason(Said said, std::vector<Reason> values = {}) : said_(said), values_(std::move(values)) {}
    explicit Reason(std::error_code error) : said_(Said::System), error_(error) {}

    // Returns true for the reason of nothing: an empty text.
    bool empty() const { return said_ == Said::Text && text_.empty(); }
    Said said() const { return said_; }
    const std::vector<Reason> &values() const { return values_; }
    std::error_code error() const { return error_; }
    std::string in(Language language) const;
    std::string english() const { return in(Language::English); }

    // Two reasons are one when they say the same in every language, however they were made.
    bool operator==(const Reason &other) const
    {
        return english() == other.english() && in(Language::Japanese) == other.in(Language::Japanese);
    }
    bool operator!=(const Reason &other) const { return !(*this == other); }

private:
    Said said_ = Said::Text;
    std::string text_;
    std::vector<Reason> values_;
    std::error_code error_;
};

// The catalogue's texts of an entry, with "{1}" to "{9}" where its values go; null for Text and System.
const char *catalogueText(Said said, Language language);

// Returns what a system's error says in language: the system's words in English, ours in Japanese
// for the errors a file can meet, the system's for the rest.
std::string systemReason(std::error_code error, Language language);

} // namespace quillarn

template <> struct std::is_error_code_enum<quillarn::FileError> : std::true_type {
};
