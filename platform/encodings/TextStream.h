#pragma once
// Decoding and encoding of a text that arrives in blocks cut anywhere: a character split
// between two blocks, and the shift state of a stateful encoding (ISO-2022-*, HZ, UTF-16
// with its byte order mark), carry over to the next block. The bytes and the verdict are those of
// decodeAppend and encodeText over the whole text in one call.

#include "platform/encodings/TextEncoding.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tarnwick {

class DecodeStream {
public:
    explicit DecodeStream(EncodingId encoding);
    ~DecodeStream();
    DecodeStream(const DecodeStream&) = delete;
    DecodeStream& operator=(const DecodeStream&) = delete;

    /// Appends to `out` the text of `bytes` as far as it is complete; `last` ends the
    /// text (a character cut off there is invalid). False once the bytes so far are
    /// invalid; the stream stays failed until restart().
    bool decode(std::string_view bytes, bool last, std::u16string& out);

    /// Whether bytes of an unfinished character are held for the next call.
    bool pending() const;

    /// Begins a new text in the same encoding.
    void restart();

private:
    struct State;
    std::unique_ptr<State> state_;
};

class EncodeStream {
public:
    explicit EncodeStream(EncodingId encoding);
    ~EncodeStream();
    EncodeStream(const EncodeStream&) = delete;
    EncodeStream& operator=(const EncodeStream&) = delete;

    /// Appends to `out` the bytes of `text` as far as they are settled; `last` ends the
    /// text. False once the text so far cannot be encoded; the stream stays failed
    /// until restart().
    bool encode(std::u16string_view text, bool last, std::string& out);

    /// Begins a new text in the same encoding.
    void restart();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarnwick
