// Record and move list translation: a basic game, each header rule with its failures, the data
// scan line by line, and the escaping that keeps values from breaking the record.
#include "../support/referencetranslator.h"
#include "text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillarn;

namespace {

struct HeaderFields {
    std::u16string title = u"Match";
    std::u16string copyright = u"x";
    std::u16string winner = u"B,C";
    std::u16string playerB = u"Kuro,3d,";
    std::u16string playerW = u"Shiro,2d,";
    std::u16string place = u"Hall";
    std::u16string date = u"2000/10/24,";
    std::u16string size = u"19";
    std::u16string hdcp = u"0,6.5";
};

std::u16string header(const HeaderFields &f = {})
{
    return u"[Header]\r\nTitle=" + f.title + u"\r\nCopyright=" + f.copyright + u"\r\nWinner=" + f.winner +
           u"\r\nPlayerB=" + f.playerB + u"\r\nPlayerW=" + f.playerW + u"\r\nPlace=" + f.place +
           u"\r\nDate=" + f.date + u"\r\nSize=" + f.size + u"\r\nHdcp=" + f.hdcp + u"\r\n";
}

const std::u16string basicRoot =
    u";GN[Match]CP[x]RE[B+R]PB[Kuro]BR[3d]PW[Shiro]WR[2d]PC[Hall]DT[2000-10-24]SZ[19]HA[0]KM[6.5]";

std::u16string rootOf(const HeaderFields &f)
{
    const std::u16string record = translateRecord(header(f));
    return record.substr(1, record.size() - 2);
}

std::string failureOf(const std::u16string &source)
{
    try {
        translateRecord(source);
    } catch (const CommandFailure &failure) {
        return failure.reason();
    }
    return "(no failure)";
}

} // namespace

TEST(RecordTranslation, BasicGame)
{
    const std::u16string source = header() + u"[Data]\r\nQD,B1,1,0\r\nDP,W2,2,0\r\n";
    EXPECT_EQ(translateRecord(source), u"(" + basicRoot + u";B[qd];W[dp])");
}

TEST(RecordTranslation, WinnerTable)
{
    const std::pair<std::u16string, std::u16string> table[] = {
        {u"B,C", u"B+R"}, {u"W,6.5", u"W+6.5"}, {u"B,C2", u"B+C2"}, {u"W,c", u"W+c"},
        {u"B", u"B+"},    {u"", u"+"},          {u"W,", u"W+"},
    };
    for (const auto &[winner, result] : table) {
        HeaderFields f;
        f.winner = winner;
        EXPECT_NE(rootOf(f).find(u"RE[" + result + u"]"), std::u16string::npos);
    }
}

TEST(RecordTranslation, PlayersNeedBothCommasAndIgnoreLaterFields)
{
    HeaderFields f;
    f.playerB = u"Kuro,5d,,x";
    f.playerW = u",,";
    EXPECT_NE(rootOf(f).find(u"PB[Kuro]BR[5d]PW[]WR[]"), std::u16string::npos);

    f = {};
    f.playerB = u"";
    EXPECT_EQ(failureOf(header(f)), "no comma in \"PlayerB=\" value");
    f.playerB = u"Kuro,5d";
    EXPECT_EQ(failureOf(header(f)), "no second comma in \"PlayerB=\" value");
    f = {};
    f.playerW = u"Shiro";
    EXPECT_EQ(failureOf(header(f)), "no comma in \"PlayerW=\" value");
}

TEST(RecordTranslation, DateIsCutAtTheFirstCommaOfTheLineWithSlashesMadeDashes)
{
    HeaderFields f;
    f.date = u"2000/10/24,13:00,x";
    EXPECT_NE(rootOf(f).find(u"DT[2000-10-24]"), std::u16string::npos);
    f.date = u",2000/10/24";
    EXPECT_NE(rootOf(f).find(u"DT[]"), std::u16string::npos);
    f.date = u"平成12年10月24日 ./.,";
    EXPECT_NE(rootOf(f).find(u"DT[平成12年10月24日 .-.]"), std::u16string::npos);
    f.date = u"2000/10/24";
    EXPECT_EQ(failureOf(header(f)), "no comma in \"Date=\" line");
}

TEST(RecordTranslation, DateLoopStaysWithinSixteenBits)
{
    HeaderFields f;
    f.date = std::u16string(32766, u'/') + u",";
    EXPECT_NE(rootOf(f).find(u"DT[" + std::u16string(32766, u'-') + u"]"), std::u16string::npos);
    // The loop's counter would pass 32767 after its last round.
    f.date = std::u16string(32767, u'/') + u",";
    EXPECT_EQ(failureOf(header(f)), "\"Date=\" value of 32767 characters is too long (at most 32766)");
    f.date = std::u16string(40000, u'/') + u",";
    EXPECT_EQ(failureOf(header(f)), "\"Date=\" value of 40000 characters is too long (at most 32766)");
}

TEST(RecordTranslation, HandicapSplitsAtTheFirstCommaAndSizeIsCopied)
{
    HeaderFields f;
    f.hdcp = u"2,0.5,x";
    f.size = u"nineteen";
    EXPECT_NE(rootOf(f).find(u"SZ[nineteen]HA[2]KM[0.5,x]"), std::u16string::npos);
    f.hdcp = u"2";
    EXPECT_EQ(failureOf(header(f)), "no comma in \"Hdcp=\" value");
}

TEST(RecordTranslation, KeysAreFoundAnywhereAfterTheHeaderMarkerFirstOccurrenceWins)
{
    // Keys in another order, one inside a longer key, and a decoy before the marker.
    const std::u16string source =
        u"Title=Decoy\r\n[Header]\r\nHdcp=0,6.5\r\nSize=9\r\nGameDate=1999/1/1,\r\n"
        u"Date=2000/1/1,\r\nPlace=\r\nPlayerW=W,1d,\r\nPlayerB=B,2d,\r\nWinner=W,C\r\n"
        u"Copyright=\r\nTitle=Real\r\nTitle=Second\r\n";
    EXPECT_EQ(translateRecord(source),
              u"(;GN[Real]CP[]RE[W+R]PB[B]BR[2d]PW[W]WR[1d]PC[]DT[1999-1-1]SZ[9]HA[0]KM[6.5])");
}

TEST(RecordTranslation, MissingPiecesRaiseWithAReason)
{
    EXPECT_EQ(failureOf(u""), "missing \"[Header]\"");
    EXPECT_EQ(failureOf(u"Title=a\r\n"), "missing \"[Header]\"");
    std::u16string source = header();
    source.replace(source.find(u"Date="), 5, u"Datum=");
    EXPECT_EQ(failureOf(source), "missing header key \"Date=\"");
    source = header();
    source.resize(source.size() - 2); // the last key loses its CR LF
    EXPECT_EQ(failureOf(source), "no CR LF after \"Hdcp=\"");
    // A lone LF or CR is an ordinary character, so a text without any CR LF fails, and says so (the
    // conversion makes the line ends of a file that has only LF or only CR CR LF first).
    for (const std::u16string lineEnd : {u"\n", u"\r", u"\n\r"}) {
        source = header();
        for (std::size_t at; (at = source.find(u"\r\n")) != std::u16string::npos;)
            source.replace(at, 2, lineEnd);
        EXPECT_EQ(failureOf(source), "the file has no CR LF line ends (it mixes LF and CR)");
    }
}

TEST(MoveTranslation, CoordinatesAreLowerCasedAndYsIsAPass)
{
    EXPECT_EQ(
        translateMoves(u"[Data]\r\nQD,B1,1,0\r\nDP,W2,2,0\r\nYS,B3,3,0\r\nYs,W\r\nys,B\r\nTT,W\r\nAS,B\r\n"),
        u";B[qd];W[dp];B[tt];W[tt];B[tt];W[tt];B[as]");
    // Only the two characters before the first comma and the one after it count.
    EXPECT_EQ(translateMoves(u"[Data]\r\n12QD,Bxyz,,,\r\n"), u";B[qd]");
    // On a board of more than 19 lines "tt" is a point: a pass is the empty value there.
    EXPECT_EQ(translateMoves(u"[Data]\r\nYS,W\r\nTT,B\r\nys,W\r\n", true), u";W[];B[tt];W[]");
    // Where the size is not a number, "tt" may be a point: a pass is the empty value there too.
    const std::pair<std::u16string, bool> sizes[] = {
        {u"21", true},   {u"20", true}, {u"0021", true}, {u"100", true}, {u"19", false},
        {u"019", false}, {u"9", false}, {u" 21", true},  {u"", true},    {u"x", true}};
    for (const auto &[size, empty] : sizes)
        EXPECT_EQ(passIsEmptyOn(size), empty) << std::string(size.begin(), size.end());
    // A size is a number with the blanks around it left out, as a reader takes it.
    EXPECT_EQ(quillarn::trimmedNumber(u" 20\t "), u"20");
    EXPECT_EQ(quillarn::trimmedNumber(u"2 0"), u"2 0");
    EXPECT_EQ(quillarn::trimmedNumber(u" x "), u" x ");
}

TEST(MoveTranslation, ColourIsCopiedAsItStands)
{
    EXPECT_EQ(translateMoves(u"[Data]\r\nqd,X\r\n"), u";X[qd]");
}

TEST(MoveTranslation, CommaAtPositionOneOrTwoRaisesWithTheLine)
{
    const std::u16string source = header() + u"[Data]\r\nQD,B1\r\nD,W2\r\n";
    EXPECT_EQ(failureOf(source), "line 13 (move 2): comma at position 2");
    EXPECT_THROW(translateMoves(u"[Data]\r\n,B\r\n"), CommandFailure);
}

TEST(MoveTranslation, CommaPositionIsSixteenBit)
{
    const std::u16string padding(32763, u'x');
    EXPECT_EQ(translateMoves(u"[Data]\r\n" + padding + u"QD,B\r\n"), u";B[qd]"); // comma at 32766
    try {
        translateMoves(u"[Data]\r\n" + padding + u"xQD,B\r\n");
        FAIL();
    } catch (const CommandFailure &failure) {
        EXPECT_STREQ(failure.reason(), "line 2 (move 1): comma at position 32767, beyond 32766");
    }
}

TEST(MoveTranslation, LinesOfALaterSectionAreNotMoves)
{
    EXPECT_EQ(translateMoves(u"[Data]\r\nQD,B\r\n[Figure]\r\nDP,W\r\n"), u";B[qd]");
    // A line that merely contains "[" is still read.
    EXPECT_EQ(translateMoves(u"[Data]\r\nQD,B [x]\r\n"), u";B[qd]");
}

TEST(RecordTranslation, BracketsAndBackslashesInValuesAreEscaped)
{
    HeaderFields f;
    f.title = u"Final] ;B[aa]";
    f.place = u"C:\\Hall";
    f.playerB = u"K]uro,3\\d,";
    EXPECT_EQ(rootOf(f),
              u";GN[Final\\] ;B[aa\\]]CP[x]RE[B+R]PB[K\\]uro]BR[3\\\\d]PW[Shiro]WR[2d]PC[C:\\\\Hall]"
              u"DT[2000-10-24]SZ[19]HA[0]KM[6.5]");
    EXPECT_EQ(translateMoves(u"[Data]\r\n]\\,B\r\n"), u";B[\\]\\\\]");
}

TEST(MoveTranslation, BlankLinesBetweenMovesAreSkipped)
{
    EXPECT_EQ(translateMoves(u"[Data]\r\nQD,B1\r\n\r\n\r\nDP,W2\r\n"), u";B[qd];W[dp]");
}

TEST(MoveTranslation, LastMoveLineWithoutLineEndIsRead)
{
    EXPECT_EQ(translateMoves(u"[Data]\r\nQD,B1\r\nDP,W2,2,0"), u";B[qd];W[dp]");
    EXPECT_EQ(translateMoves(u"[Data]"), u"");
}

// Reading on past a lone line end would join the lines after it into one and drop their moves.
TEST(MoveTranslation, LoneCrOrLfInADataLineRaisesWithTheLine)
{
    const std::pair<std::u16string, std::string> table[] = {
        {u"[Data]\r\nQD,B1\nDP,W2\nPD,B3\r\n",
         "line 2 (move 1): line ends in LF without CR (the file mixes line ends; save it with CR LF alone)"},
        {u"[Data]\r\nQD,B1\rDP,W2\r\n",
         "line 2 (move 1): line ends in CR without LF (the file mixes line ends; save it with CR LF alone)"},
        {u"[Data]\nQD,B1\r\n",
         "line 1: line ends in LF without CR (the file mixes line ends; save it with CR LF alone)"},
        {u"[Data]\r\nQD,B1\r\n\n",
         "line 3: line ends in LF without CR (the file mixes line ends; save it with CR LF alone)"},
        {u"[Data]\r\nQD,B1\r\n\r\nx\r\nDP,W2\n",
         "line 5 (move 2): line ends in LF without CR (the file mixes line ends; save it with CR LF alone)"},
        {u"[Data]\r",
         "line 1: line ends in CR without LF (the file mixes line ends; save it with CR LF alone)"},
    };
    for (const auto &[source, reason] : table) {
        try {
            translateMoves(source);
            ADD_FAILURE() << reason;
        } catch (const CommandFailure &failure) {
            EXPECT_EQ(failure.reason(), reason);
        }
    }
    // Lines of a later section are not read, whatever their line ends.
    EXPECT_EQ(translateMoves(u"[Data]\r\nQD,B1\r\n[Figure]\nx,B\n"), u";B[qd]");
}

TEST(MoveTranslation, WithoutDataMarkerThereAreNoMoves)
{
    EXPECT_EQ(translateRecord(header()), u"(" + basicRoot + u")");
    EXPECT_EQ(translateMoves(u"abc"), u"");
}

TEST(MoveTranslation, ColourThatIsNoLetterRaisesWithTheLine)
{
    const std::pair<std::u16string, std::string> table[] = {
        {u"QD,\r\n", "no colour after the comma"},       {u"QD,", "no colour after the comma"},
        {u"QD,b", "colour \"b\" is not a letter A-Z"},   {u"QD,]", "colour \"]\" is not a letter A-Z"},
        {u"QD,;", "colour \";\" is not a letter A-Z"},   {u"QD,1", "colour \"1\" is not a letter A-Z"},
        {u"QD,黒", "colour U+9ED2 is not a letter A-Z"},
    };
    for (const auto &[line, reason] : table) {
        try {
            translateMoves(u"[Data]\r\n" + line);
            ADD_FAILURE() << reason;
        } catch (const CommandFailure &failure) {
            EXPECT_EQ(failure.reason(), "line 2 (move 1): " + reason);
        }
    }
}

// The moves written are those of the lines with a comma; what a damaged list shows is warned.
TEST(MoveList, DamageIsWarnedWithItsLine)
{
    const std::pair<std::u16string, std::vector<std::string>> table[] = {
        {u"[Data]\r\nQD,B1\r\n\r\n \r\nDP,W2\r\n", {}},
        {u"[Data]\r\nQD,B\r\nDP,W\r\n", {}}, // lines without move numbers
        {u"[Data]\r\nQD,B1\r\nDP W2\r\nx\r\nPD,B3\r\n",
         {"line 13 is not a move (no comma), nor is 1 more line", "line 15 is move 3: move 2 is missing"}},
        {u"[Data]\r\nQD,B1\r\nDP,W2\r\nDP,W2\r\nPD,B3\r\n", {"line 14 is move 2: a repeat, move 3 was next"}},
        {u"[Data]\r\nQD,B2\r\nDP,W6\r\n", {"line 12 is move 2: move 1 is missing"}},
        {u"[Data]\r\nQD,B1\r\nDP,W6\r\n", {"line 13 is move 6: moves 2 to 5 are missing"}},
        {u"Moves=3\r\n[Data]\r\nQD,B1\r\nDP,W2\r\n", {"the header gives 3 moves (Moves=) but 2 were read"}},
        {u"Moves= 2\r\n[Data]\r\nQD,B1\r\nDP,W2\r\n[Remote]\r\nMoves=5\r\n", {}},
        {u"[Dat", {"no [Data] section: the record has no moves"}},
    };
    for (const auto &[tail, warnings] : table) {
        std::vector<Reason> found;
        translateRecord(header() + tail, &found);
        std::vector<std::string> english;
        for (const Reason &warning : found)
            english.push_back(warning.english());
        EXPECT_EQ(english, warnings) << std::string(tail.begin(), tail.end());
    }
}
