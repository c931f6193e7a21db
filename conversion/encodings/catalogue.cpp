// The catalogue of catalogue.h: every entry's English and Japanese texts, and how a reason is said.
#include "catalogue.h"

#include <array>
#include <cerrno>

namespace quillarn {

namespace {

struct Entry {
    Said said;
    const char *english;
    const char *japanese;
};

// In the order of Said; reasonCatalogue() checks the order when the program starts a catalogue look-up.
constexpr Entry catalogue[] = {
    {Said::Text, nullptr, nullptr},
    {Said::System, nullptr, nullptr},
    {Said::Joined, "{1}: {2}", "{1}: {2}"},
    {Said::Line, "line {1}", "{1} 行目"},
    {Said::LineOfMove, "line {1} (move {2})", "{1} 行目（{2} 手目）"},
    {Said::ShownInBrackets, " ({1})", "（{1}）"},

    {Said::MissingHeader, "missing \"[Header]\"", "「[Header]」がありません"},
    {Said::MissingHeaderKey, "missing header key \"{1}\"", "ヘッダーにキー「{1}」がありません"},
    {Said::NoCrLfLineEnds, "the file has no CR LF line ends (it mixes LF and CR)",
     "ファイルの行末が CR LF ではありません（LF と CR が混在しています）"},
    {Said::NoCrLfAfterKey, "no CR LF after \"{1}\"", "「{1}」の行が CR LF で終わっていません"},
    {Said::NoCommaInValue, "no comma in \"{1}\" value", "「{1}」の値にコンマがありません"},
    {Said::NoSecondCommaInValue, "no second comma in \"{1}\" value",
     "「{1}」の値に 2 つ目のコンマがありません"},
    {Said::NoCommaInLine, "no comma in \"{1}\" line", "「{1}」の行にコンマがありません"},
    {Said::DateTooLong, "\"Date=\" value of {1} characters is too long (at most 32766)",
     "「Date=」の値が {1} 文字で、長すぎます（32766 文字まで）"},
    {Said::CommaBeyondReach, "comma at position {1}, beyond 32766",
     "コンマが {1} 文字目にあり、32766 文字目を超えています"},
    {Said::CommaAtPosition, "comma at position {1}", "コンマが {1} 文字目にあります"},
    {Said::NoColour, "no colour after the comma", "コンマの後に手番の色がありません"},
    {Said::ColourNotALetter, "colour {1} is not a letter A-Z", "手番の色 {1} が A～Z の文字ではありません"},
    {Said::LineEndsLf, "line ends are LF, not CR LF", "行末が CR LF ではなく LF です"},
    {Said::LineEndsCr, "line ends are CR, not CR LF", "行末が CR LF ではなく CR です"},
    {Said::GrownTooLarge, "with CR LF line ends the record would be {1} bytes, too large (at most {2} bytes)",
     "行末を CR LF にすると {1} バイトになり、大きすぎます（{2} バイトまで）"},
    {Said::LfWithoutCr, "line ends in LF without CR (the file mixes line ends; save it with CR LF alone)",
     "行末が CR のない LF です（ファイルの行末が混在しています。CR LF だけで保存してください）"},
    {Said::CrWithoutLf, "line ends in CR without LF (the file mixes line ends; save it with CR LF alone)",
     "行末が LF のない CR です（ファイルの行末が混在しています。CR LF だけで保存してください）"},
    {Said::PositionOutOfRange16, "16-bit position out of range: {1}",
     "16 ビットの位置の範囲を超えています: {1}"},
    {Said::Overflow16, "16-bit overflow: {1}", "16 ビットの桁あふれです: {1}"},
    {Said::Overflow32, "32-bit overflow: {1}", "32 ビットの桁あふれです: {1}"},
    {Said::TextTooLong, "text too long: {1}", "文字列が長すぎます: {1}"},
    {Said::PositionTooLarge, "position: {1}", "位置が大きすぎます: {1}"},
    {Said::StartPosition, "Mid: start position {1}", "Mid の開始位置が正しくありません: {1}"},
    {Said::LengthNegative, "{1}: length {2}", "{1} の長さが正しくありません: {2}"},

    {Said::Utf32Text, "UTF-32 text, not a UGI record", "UTF-32 の文書で、UGI の棋譜ではありません"},
    {Said::Utf16Text, "UTF-16 text, not a UGI record", "UTF-16 の文書で、UGI の棋譜ではありません"},
    {Said::BinaryData, "binary data, not a UGI record", "バイナリデータで、UGI の棋譜ではありません"},
    {Said::AlreadySgf, "not a UGI record: it looks like an SGF record already (it starts with \"(;\")",
     "UGI の棋譜ではありません: すでに SGF の棋譜のようです（「(;」で始まっています）"},
    {Said::NoHeaderSection, "not a UGI record: no [Header] section",
     "UGI の棋譜ではありません: [Header] の節がありません"},
    {Said::AfterByteOrderMark, "{1} (the source starts with a UTF-8 byte-order mark)",
     "{1}（ファイルは UTF-8 のバイト順マークで始まっています）"},
    {Said::ReadAsUtf8AlsoCp932, "read as UTF-8{1}; it is also valid code page 932",
     "UTF-8 として読みました{1}。コードページ 932 としても読めます"},
    {Said::ReadAsCp932AlsoUtf8, "read as code page 932{1}; it is also valid UTF-8",
     "コードページ 932 として読みました{1}。UTF-8 としても読めます"},

    {Said::ByteNotUtf8, "line {1}, column {2}: byte {3} is not valid UTF-8",
     "{1} 行 {2} 桁目: バイト {3} は UTF-8 として正しくありません"},
    {Said::BytesNotUtf8, "line {1}, column {2}: bytes {3} are not valid UTF-8",
     "{1} 行 {2} 桁目: バイト {3} は UTF-8 として正しくありません"},
    {Said::UndecodedNotUtf8, "byte 0x{1} of the source did not decode and cannot be written as UTF-8",
     "変換元のバイト 0x{1} は文字として読めなかったため、UTF-8 では書けません"},
    {Said::SurrogateNotUtf8, "unpaired surrogate U+{1} cannot be written as UTF-8",
     "対になっていないサロゲート U+{1} は UTF-8 では書けません"},
    {Said::SurrogateNotCp932, "unpaired surrogate U+{1} cannot be written in code page 932",
     "対になっていないサロゲート U+{1} はコードページ 932 では書けません"},
    {Said::CharacterNotCp932, "character U+{1} cannot be written in code page 932",
     "文字 U+{1} はコードページ 932 では書けません"},
    {Said::ShownCharacterNotCp932, "character U+{1} \"{2}\" cannot be written in code page 932",
     "文字 U+{1}「{2}」はコードページ 932 では書けません"},
    {Said::UndecodedBefore,
     "byte 0x{1} of the source did not decode and cannot be written before {2} (the two would read back as "
     "one character)",
     "変換元のバイト 0x{1} は文字として読めなかったため、{2} の前には書けません（読み直すと 2 つで 1 文字に"
     "なります）"},

    {Said::NoDataSection, "no [Data] section: the record has no moves",
     "[Data] の節がありません: 着手のない棋譜です"},
    {Said::NotAMove, "line {1} is not a move (no comma)",
     "{1} 行目は着手ではありません（コンマがありません）"},
    {Said::NotAMoveNorOneMore, "line {1} is not a move (no comma), nor is 1 more line",
     "{1} 行目は着手ではありません（コンマがありません）。ほかにも 1 行あります"},
    {Said::NotAMoveNorMore, "line {1} is not a move (no comma), nor are {2} more lines",
     "{1} 行目は着手ではありません（コンマがありません）。ほかにも {2} 行あります"},
    {Said::MoveRepeated, "line {1} is move {2}: a repeat, move {3} was next",
     "{1} 行目は {2} 手目です: 繰り返しで、次は {3} 手目のはずでした"},
    {Said::MoveMissing, "line {1} is move {2}: move {3} is missing",
     "{1} 行目は {2} 手目です: {3} 手目が抜けています"},
    {Said::MovesMissing, "line {1} is move {2}: moves {3} to {4} are missing",
     "{1} 行目は {2} 手目です: {3} 手目から {4} 手目が抜けています"},
    {Said::OneMoveRead, "the header gives {1} moves (Moves=) but {2} was read",
     "ヘッダーでは {1} 手（Moves=）ですが、読めたのは {2} 手です"},
    {Said::MovesRead, "the header gives {1} moves (Moves=) but {2} were read",
     "ヘッダーでは {1} 手（Moves=）ですが、読めたのは {2} 手です"},
    {Said::MoveName, "move {1} ({2} {3})", "{1} 手目（{2} {3}）"},
    {Said::PassName, "move {1} ({2} pass)", "{1} 手目（{2} パス）"},
    {Said::NeitherColour, "{1} is neither Black's nor White's", "{1} は黒の手でも白の手でもありません"},
    {Said::OffTheBoard, "{1} is off the board", "{1} は盤の外です"},
    {Said::OnAStone, "{1} is on an occupied point", "{1} は石のある点に打たれています"},
    {Said::Suicide, "{1} is suicide", "{1} は自殺手です"},
    {Said::KoRetaken, "{1} retakes a ko", "{1} はコウをすぐに取り返しています"},
    {Said::SizeNotReplayed, "the board size is not a number from 2 to 25: the moves were not replayed",
     "盤の大きさが 2 から 25 の数ではありません: 着手は並べていません"},
    {Said::BoardSizeNotReplayed, "board size {1} is not a number from 2 to 25: the moves were not replayed",
     "盤の大きさ {1} は 2 から 25 の数ではありません: 着手は並べていません"},
    {Said::HandicapNotANumber, "handicap \"{1}\" is not a number: no handicap stones (AB) written",
     "置き石「{1}」が数ではありません: 置き石（AB）は書いていません"},
    {Said::HandicapWithoutPlacement,
     "handicap {1} on a board of size {2} has no standard placement: no handicap stones (AB) written",
     "盤の大きさ {2} の {1} 子局には決まった置き方がありません: 置き石（AB）は書いていません"},
    {Said::HandicapWhiteNotFirst,
     "handicap {1} but White does not move first: no handicap stones (AB) written",
     "{1} 子局ですが白が先に打っていません: 置き石（AB）は書いていません"},
    {Said::HandicapOnAStone, "handicap {1}: {2} lands on a handicap stone: no handicap stones (AB) written",
     "{1} 子局: {2} が置き石の上に打たれています: 置き石（AB）は書いていません"},

    {Said::SgfOffset, "offset {1}", "位置 {1}"},
    {Said::NotSgf, "not an SGF record: no game tree \"(;\"",
     "SGF の棋譜ではありません: 「(;」で始まる木がありません"},
    {Said::SgfTooLarge, "larger than {1} bytes", "{1} バイトより大きいファイルです"},
    {Said::SgfTreeNotClosed, "the game tree at {1} is not closed", "{1} の木が閉じていません"},
    {Said::SgfTreeWithoutNode, "a game tree without a node", "ノードのない木です"},
    {Said::SgfUnexpected, "unexpected {1}", "ここに {1} は来ません"},
    {Said::SgfPropertyOutsideNode, "property {1} outside a node", "プロパティ {1} がノードの外にあります"},
    {Said::SgfPropertyWithoutValue, "property {1} without a value", "プロパティ {1} に値がありません"},
    {Said::SgfValueNotClosed, "the value of {1} is not closed", "{1} の値が閉じていません"},
    {Said::SgfSizeNot2To25, "the board size is not 2 to 25", "盤の大きさが 2 から 25 ではありません"},
    {Said::SgfBoardNotSquare, "the board is not square", "盤が正方形ではありません"},

    {Said::SourceTooLarge, "file of {1} bytes is too large (at most {2} bytes)",
     "ファイルが {1} バイトあり、大きすぎます（{2} バイトまで）"},
    {Said::SourceOverLimit, "more than {1} bytes is too large", "{1} バイトを超えていて、大きすぎます"},
    {Said::NotARegularFile, "not a regular file", "通常のファイルではありません"},
    {Said::TooLarge, "too large", "大きすぎます"},
    {Said::ChangedWhileRead, "the file changed while it was read", "読んでいる間にファイルが変わりました"},
    {Said::NothingWritten, "the system took none of the bytes written",
     "書いたバイトをシステムが 1 つも受け取りませんでした"},
    {Said::ReadOnly, "the file is read-only", "ファイルは読み取り専用です"},
    {Said::InUse, "the file is in use by another program", "ファイルはほかのプログラムが使用中です"},
    {Said::FolderNotFlushed, "written, but its folder could not be flushed to disk: {1}",
     "書きましたが、そのフォルダーをディスクに書き出せませんでした: {1}"},
    {Said::AnotherUsersLink,
     "the output is another user's symbolic link in a shared folder (sticky, writable by all); not followed",
     "変換先は共有フォルダー（スティッキー、全員が書き込み可）にあるほかのユーザーのシンボリックリンクです。"
     "たどりませんでした"},
    {Said::BlockDevice, "the output is a block device; not written",
     "変換先はブロックデバイスです。書きませんでした"},
    {Said::Socket, "the output is a socket; not written", "変換先はソケットです。書きませんでした"},
    {Said::SpecialInBatch, "the output is a FIFO or device, which a batch does not write into",
     "変換先は FIFO かデバイスです。まとめて変換するときは書き込みません"},
    {Said::OutputIsSource, "the output {1} would replace the source",
     "変換先 {1} は変換元を置き換えてしまいます"},
    {Said::AlsoTheOutputOf, "its output {1} is also the output of {2}; not converted",
     "変換先 {1} は {2} の変換先でもあります。変換しませんでした"},
    {Said::NoUgiRecords, "no .ugi records", ".ugi の棋譜がありません"},
    {Said::LeftOutOfZip,
     "its output {1} is also the output of {2}; left out of the zip (Save saves it alone)",
     "変換先 {1} は {2} の変換先でもあります。zip には入れません（「保存」で 1 つだけ保存できます）"},
    {Said::CannotWrite, "cannot write {1}: {2}", "{1} を書けません: {2}"},
    {Said::CannotCreateFolder, "cannot create folder {1}: {2}", "フォルダー {1} を作れません: {2}"},
    {Said::OutOfMemory, "out of memory", "メモリーが足りません"},
    {Said::UnknownFailure, "unknown failure", "不明な失敗です"},
    {Said::NotAUgiName, "only a file whose name ends in .ugi is a UGI record",
     "名前が .ugi で終わるファイルだけが UGI の棋譜です"},

    {Said::WrittenWithUtf8, "{1} (--encoding utf-8 writes it)", "{1}（--encoding utf-8 なら書けます）"},
    {Said::ReadAsUtf8, "{1} (--source-encoding utf-8 reads it so)",
     "{1}（--source-encoding utf-8 ならそう読みます）"},
    {Said::ReadAsCp932, "{1} (--source-encoding cp932 reads it so)",
     "{1}（--source-encoding cp932 ならそう読みます）"},
    {Said::HeldBack, "{1}; not written (--strict)", "{1}。書きませんでした（--strict）"},
    {Said::OutputExists, "{1} exists (--force replaces it)", "{1} があります（--force で置き換えます）"},
    {Said::ItIsAFolder, "it is a folder", "フォルダーです"},
    {Said::Skipped, "skipped, {1}", "飛ばしました。{1}"},
    {Said::MoreThanBytes, "more than {1} bytes is too large", "{1} バイトを超えていて、大きすぎます"},
    {Said::StandardInputFile, "the file of standard input", "標準入力のファイル"},
    {Said::StandardOutputEmptied,
     "standard output is {1} itself: the shell emptied it before ugi2sgf ran; use -o",
     "標準出力が {1} そのものです: ugi2sgf が動く前にシェルが空にしました。-o を使ってください"},
    {Said::StandardOutputWrittenInto,
     "standard output is {1} itself: the record would be written into it; use -o",
     "標準出力が {1} そのものです: 棋譜がそこに書き込まれてしまいます。-o を使ってください"},
    {Said::Cp932OnTerminal,
     "the record below is code page 932 and may show garbled here; -o FILE saves it unchanged",
     "以下の棋譜はコードページ 932 のため、ここでは文字化けすることがあります。-o FILE "
     "ならそのまま保存します"},
    {Said::StandardOutputName, "standard output", "標準出力"},
    {Said::LookingInFolders, "looking… {1} folders", "探しています… {1} フォルダー"},
    {Said::ConvertAlone, "{1} (-o NAME converts it alone)", "{1}（-o NAME を付ければ単独で変換できます）"},
    {Said::OneSharesOutput,
     "1 failed: its output is also the output of a record before it (-v names it; -o NAME converts it alone)",
     "1 件は変換しませんでした: 変換先が前の棋譜の変換先と同じです（-v で示します。-o NAME を付ければ単独で"
     "変換できます）"},
    {Said::SomeShareOutputs,
     "{1} failed: their outputs are also the outputs of records before them (-v names each; -o NAME converts "
     "one "
     "alone)",
     "{1} 件は変換しませんでした: 変換先が前の棋譜の変換先と同じです（-v でそれぞれを示します。-o NAME "
     "を付ければ"
     "1 つずつ変換できます）"},
    {Said::OneSkipped, "{1} skipped: its output exists (--force replaces it)",
     "{1} 件を飛ばしました: 変換先があります（--force で置き換えます）"},
    {Said::SomeSkipped, "{1} skipped: their outputs exist (--force replaces them)",
     "{1} 件を飛ばしました: 変換先があります（--force で置き換えます）"},
    {Said::StoppedOneNotWritten, "{1}; stopped with {2} record not written",
     "{1}。{2} 件を書かずに止めました"},
    {Said::StoppedNotWritten, "{1}; stopped with {2} records not written", "{1}。{2} 件を書かずに止めました"},
    {Said::DiskFull, "disk full", "ディスクがいっぱい"},
    {Said::NoOutputFolder, "no output folder", "変換先のフォルダーがない"},
    {Said::SummaryConverted, "{1} converted", "変換 {1} 件"},
    {Said::SummaryWithWarnings, " ({1} with warnings)", "（うち警告あり {1} 件）"},
    {Said::SummaryUpdated, ", {1} updated", "、更新 {1} 件"},
    {Said::SummaryFailedSkipped, ", {1} failed, {2} skipped", "、失敗 {1} 件、飛ばした {2} 件"},
    {Said::SummaryNotWritten, ", {1} not written ({2})", "、書かなかった {1} 件（{2}）"},
    {Said::SummaryInterrupted, ", {1} not converted (interrupted)", "、変換しなかった {1} 件（中断）"},
    {Said::SummaryRestNotLookedAt, ", the rest not looked at", "、残りは見ていません"},
    {Said::OptionONeedsName, "option -o needs a file name", "オプション -o にはファイル名が要ります"},
    {Said::OptionDNeedsName, "option -d needs a folder name", "オプション -d にはフォルダー名が要ります"},
    {Said::SourceEncodingNeedsName, "option --source-encoding needs a name (auto, cp932 or utf-8)",
     "オプション --source-encoding には名前が要ります（auto、cp932、utf-8）"},
    {Said::EncodingNeedsName, "option --encoding needs a name (utf-8 or cp932)",
     "オプション --encoding には名前が要ります（utf-8、cp932）"},
    {Said::UnknownOption, "unknown option {1}", "知らないオプションです: {1}"},
    {Said::UnknownSourceEncoding, "unknown source encoding '{1}' (auto, cp932 or utf-8)",
     "知らない読み方です: '{1}'（auto、cp932、utf-8）"},
    {Said::UnknownEncoding, "unknown encoding '{1}' (utf-8 or cp932)",
     "知らない文字コードです: '{1}'（utf-8、cp932）"},
    {Said::NoInputFile, "no input file", "変換元のファイルがありません"},
    {Said::FolderOrInPlace, "-d and --in-place cannot be used together",
     "-d と --in-place は一緒に使えません"},
    {Said::OneRecordOnly, "-o writes one record; it cannot be used with -d or --in-place",
     "-o は 1 つの棋譜を書きます。-d や --in-place とは一緒に使えません"},
    {Said::StandardInputInBatch, "'-' (standard input) cannot be used with -d or --in-place",
     "'-'（標準入力）は -d や --in-place とは一緒に使えません"},
    {Said::OutputTakesOneInput, "-o takes one input file", "-o に変換元は 1 つだけです"},
    {Said::SeveralInputs, "several inputs need -d DIR or --in-place",
     "変換元が複数なら -d DIR か --in-place が要ります"},
    {Said::InputIsAFolder, "{1} is a folder: give -d DIR or --in-place",
     "{1} はフォルダーです: -d DIR か --in-place を付けてください"},
    {Said::OutputFolderIsNot, "-d {1}: not a folder", "-d {1}: フォルダーではありません"},
    {Said::TryHelp, "Try 'ugi2sgf --help'.", "'ugi2sgf --help' で使い方を表示します。"},
};

// The entries that say a FileError, by its value.
constexpr Said fileErrors[] = {Said::Text, Said::NotARegularFile, Said::TooLarge, Said::ChangedWhileRead,
                               Said::NothingWritten};

static_assert(std::size(catalogue) == static_cast<std::size_t>(Said::Count), "an entry for every reason");

constexpr bool inOrder()
{
    for (std::size_t i = 0; i < std::size(catalogue); ++i) {
        if (static_cast<std::size_t>(catalogue[i].said) != i)
            return false;
    }
    return true;
}
static_assert(inOrder(), "the catalogue in the order of Said");

// Our words for the errors a file meets most, in Japanese.
const char *japaneseError(std::error_condition condition)
{
    if (condition.category() != std::generic_category())
        return nullptr;
    switch (static_cast<std::errc>(condition.value())) {
    case std::errc::no_such_file_or_directory:
        return "そのようなファイルやフォルダーはありません";
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
        return "アクセスが拒否されました";
    case std::errc::no_space_on_device:
        return "ディスクに空きがありません";
    case std::errc::file_exists:
        return "ファイルがすでにあります";
    case std::errc::is_a_directory:
        return "フォルダーです";
    case std::errc::not_a_directory:
        return "フォルダーではありません";
    case std::errc::read_only_file_system:
        return "読み取り専用のファイルシステムです";
    case std::errc::filename_too_long:
        return "ファイル名が長すぎます";
    case std::errc::too_many_symbolic_link_levels:
        return "シンボリックリンクが多すぎます";
    case std::errc::io_error:
        return "入出力エラーです";
    case std::errc::device_or_resource_busy:
    case std::errc::text_file_busy:
        return "ファイルは使用中です";
    case std::errc::too_many_files_open:
    case std::errc::too_many_files_open_in_system:
        return "開いているファイルが多すぎます";
    case std::errc::not_enough_memory:
        return "メモリーが足りません";
    case std::errc::cross_device_link:
        return "別のデバイスへは移せません";
    case std::errc::directory_not_empty:
        return "フォルダーが空ではありません";
    case std::errc::invalid_argument:
        return "引数が正しくありません";
    case std::errc::no_such_device_or_address:
    case std::errc::no_such_device:
        return "そのようなデバイスはありません";
    case std::errc::file_too_large:
        return "ファイルが大きすぎます";
    default:
        break;
    }
#ifdef EDQUOT
    if (condition.value() == EDQUOT)
        return "ディスクの割り当てを超えました";
#endif
    return nullptr;
}

} // namespace

const char *catalogueText(Said said, Language language)
{
    const Entry &entry = catalogue[static_cast<std::size_t>(said)];
    return language == Language::Japanese ? entry.japanese : entry.english;
}

const std::error_category &fileErrorCategory()
{
    static const class : public std::error_category {
    public:
        const char *name() const noexcept override { return "quillarn files"; }
        std::string message(int error) const override
        {
            if (error > 0 && error < static_cast<int>(std::size(fileErrors)))
                return catalogueText(fileErrors[error], Language::English);
            return "file error " + std::to_string(error);
        }
    } category;
    return category;
}

std::string systemReason(std::error_code error, Language language)
{
    if (language == Language::Japanese) {
        if (error.category() == fileErrorCategory() && error.value() > 0 &&
            error.value() < static_cast<int>(std::size(fileErrors)))
            return catalogueText(fileErrors[error.value()], language);
        if (const char *words = japaneseError(error.default_error_condition()))
            return words;
    }
    return error.message();
}

std::string Reason::in(Language language) const
{
    if (said_ == Said::Text)
        return text_;
    if (said_ == Said::System)
        return systemReason(error_, language);
    const std::string_view pattern = catalogueText(said_, language);
    std::string said;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const char c = pattern[at];
        if (c == '{' && at + 2 < pattern.size() && pattern[at + 2] == '}' && pattern[at + 1] >= '1' &&
            pattern[at + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[at + 1] - '1');
            if (index < values_.size())
                said += values_[index].in(language);
            at += 2;
        } else {
            said += c;
        }
    }
    return said;
}

} // namespace quillarn
