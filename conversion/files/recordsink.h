// Where the bytes of a record file go as they are made: a file being written, standard output, a
// buffer. The conversion writes through it; the writer and the command line provide it.
#pragma once

#include <string>
#include <string_view>

namespace quillarn {

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Takes the next bytes of the record file. Raises CommandFailure with the system's reason when
    // they cannot be written.
    virtual void write(std::string_view bytes) = 0;
};

// A sink that keeps the bytes.
class StringSink : public RecordSink {
public:
    std::string bytes;
    void write(std::string_view more) override { bytes.append(more); }
};

// Passes bytes on to another sink and notes that the writing has begun, so that a caller can tell a
// failure of the record from a failure of its output.
class NotingSink : public RecordSink {
public:
    NotingSink(RecordSink &sink, bool &writing) : sink_(sink), writing_(writing) {}
    void write(std::string_view bytes) override
    {
        writing_ = true;
        sink_.write(bytes);
    }

private:
    RecordSink &sink_;
    bool &writing_;
};

} // namespace quillarn
