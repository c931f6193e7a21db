// quillarn-thumbnailer: writes a picture of the position a record ends in, for file managers
// (packaging/quillarn.thumbnailer). A UGI record is converted, and its board is the one the
// conversion replayed; an SGF file goes to the position reader. Nothing here needs a display.
#include "boardimage.h"
#include "commandfailure.h"
#include "convert.h"
#include "picturefile.h"
#include "recordname.h"
#include "sgfreader.h"
#include "shown.h"
#include "version.h"

#include <QBuffer>
#include <QByteArray>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <new>
#include <string>
#include <string_view>

namespace {

constexpr int maxPixels = 4096;

const char usage[] =
    "Usage: quillarn-thumbnailer -s SIZE INPUT OUTPUT\n"
    "Writes a SIZE x SIZE PNG picture (SIZE 1 to 4096) of the position that the record INPUT\n"
    "(.ugi, or the main line of an .sgf file) ends in to OUTPUT.\n";

// Returns what to say of a record that converts neither to UTF-8 (reason utf8) nor to code page 932
// (reason codePage), the reason that says most: the one reason when both are the same; codePage
// when it names the same byte that did not decode, as it says also why code page 932 cannot hold
// it; otherwise both, utf8's first, as its byte comes first in the record.
std::string reasonOfBoth(const std::string &utf8, const std::string &codePage)
{
    if (codePage == utf8)
        return utf8;
    const std::size_t subject = utf8.find(" cannot be written");
    if (subject != std::string::npos && codePage.compare(0, subject, utf8, 0, subject) == 0)
        return codePage;
    return utf8 + "; in code page 932: " + codePage;
}

// A sink for a conversion wanted for its board alone: the record's bytes go nowhere.
class Discard : public quillarn::RecordSink {
public:
    void write(std::string_view) override {}
};

// Returns the board the record in bytes ends in. A file named .ugi is a UGI record, and so is a
// file with another name but .sgf that has "[Header]" in its first 256 bytes, as the file type's
// rule says (a record saved without its extension); anything else is read as SGF. Raises
// CommandFailure.
quillarn::Board positionOf(std::string_view name, const std::string &bytes)
{
    using quillarn::hasExtension;
    const bool ugi = hasExtension(name, quillarn::ugiExtension) ||
                     (!hasExtension(name, quillarn::sgfExtension) &&
                      bytes.substr(0, 256).find("[Header]") != std::string::npos);
    if (!ugi)
        return quillarn::readSgfPosition(bytes);
    // Converted as ugi2sgf converts it, in UTF-8 as every front end does by default: a record that
    // cannot be written has no picture either. A source byte that did not decode has no place in
    // UTF-8 but does in code page 932, so that is tried next; the board is the same in both.
    quillarn::ConversionOptions options;
    options.game = quillarn::GameDetail::Board;
    Discard discard;
    quillarn::ConversionReport report;
    try {
        options.output = quillarn::RecordEncoding::Utf8;
        report = quillarn::convertRecord(bytes, options, discard);
    } catch (const quillarn::CommandFailure &utf8) {
        try {
            options.output = quillarn::RecordEncoding::Ansi;
            report = quillarn::convertRecord(bytes, options, discard);
        } catch (const quillarn::CommandFailure &codePage) {
            throw quillarn::CommandFailure(reasonOfBoth(utf8.reason(), codePage.reason()));
        }
    }
    if (!report.position.board)
        throw quillarn::CommandFailure("the board size is not a number from 2 to 25");
    return *report.position.board;
}

int usageError(const std::string &what)
{
    std::cerr << "quillarn-thumbnailer: " << what << "\n" << usage;
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int pixels = 0;
    std::vector<std::string> files;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg == "-" || arg.empty() || arg[0] != '-') {
            files.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "quillarn-thumbnailer (" QUILLARN_NAME ") " QUILLARN_VERSION "\n";
            return 0;
        } else if (arg == "-s" || (arg.size() > 2 && arg.compare(0, 2, "-s") == 0)) {
            if (arg == "-s" && i + 1 == argc)
                return usageError("-s needs a size");
            const std::string value = arg == "-s" ? argv[++i] : arg.substr(2);
            const bool digits =
                !value.empty() && value.size() <= 4 &&
                std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
            pixels = digits ? std::stoi(value) : 0;
            if (pixels < 1 || pixels > maxPixels)
                return usageError("size \"" + value + "\" is not 1 to 4096");
        } else {
            return usageError("unknown option " + quillarn::shownText(arg));
        }
    }
    if (pixels == 0 || files.size() != 2)
        return usageError(pixels == 0 ? "-s SIZE is required" : "give one INPUT and one OUTPUT");
    const std::string &input = files[0];
    const std::string &output = files[1];
    // A write past a file size limit, or into a FIFO whose reader has gone, fails with its reason.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    // The picture is made whole in memory before OUTPUT is touched.
    FileIdentity record;
    QByteArray png;
    try {
        const QImage image = boardImage(positionOf(input, readRecord(input, record)), pixels);
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
            throw std::bad_alloc();
    } catch (const quillarn::CommandFailure &failure) {
        std::cerr << quillarn::shownText(input) << ": " << quillarn::shownText(failure.reason()) << "\n";
        return 1;
    } catch (const std::bad_alloc &) {
        std::cerr << quillarn::shownText(input) << ": not enough memory for its picture\n";
        return 1;
    }
    try {
        writePicture(output, std::string_view(png.constData(), static_cast<std::size_t>(png.size())), input,
                     record);
    } catch (const OutputIsInput &) {
        std::cerr << quillarn::shownText(input) << ": the output " << quillarn::shownText(output)
                  << " would replace the source\n";
        return 1;
    } catch (const quillarn::CommandFailure &failure) {
        std::cerr << quillarn::shownText(output) << ": " << quillarn::shownText(failure.reason()) << "\n";
        return 1;
    }
    return 0;
}
