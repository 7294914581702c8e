#pragma once
// Text on its way to a person: a log line, a label, a terminal, an error box. Two things never
// reach them as they are: an FTP password, and a control character taken from a file name, a
// location or a server's reply (a CR or LF would forge log lines, an escape sequence would drive
// the terminal). Every output goes through these, so there is one rule for each.
#include <string>
#include <vector>

namespace skelder::platform {

// The password of every FTP location ("ftp://" or "ftps://" in any letter case) in the text
// becomes "****".
// A location runs to the end of its line or to a ","; its user information ends at the last "@"
// before the path, so a password holding "@" or "/" is hidden whole.
std::string MaskFtpPasswords(const std::string& text);
// Each occurrence of a known password in the text, from position `from` on, becomes "****": for
// a text that quotes it outside any location, such as a server's reply.
std::string MaskPassword(const std::string& text, const std::string& password, size_t from = 0);
// Text edited from a masked copy back into what it stands for: a location of `edited` whose
// password is the mask gets the password that `stored` gives the same user at the same host
// (host without letter case). Masks without such a location stay and are named, "user@host",
// in `unmatched`.
std::string RestoreMaskedFtpPasswords(const std::string& edited, const std::string& stored,
                                      std::vector<std::string>* unmatched = nullptr);

// Control characters (0x00-0x1F, 0x7F, and the C1 range as UTF-8) written visibly: "\r", "\n",
// "\t", else "\xHH". Other bytes, 8-bit ones included, stay. Escaping escaped text changes
// nothing, so layers may each apply it.
std::string EscapeControls(const std::string& text);
// The same, but line ends (LF, CR LF) stay: for a text of several lines of its own, such as a
// server's reply of several lines in the log, a terminal or a message box. A name never gets
// here with its controls: names are escaped whole where they become part of a text.
std::string EscapeControlsKeepLineEnds(const std::string& text);

// The longest start of the text that takes at most `columns` columns on a terminal: characters
// whole (UTF-8 decoded; a wide one counts two, a combining mark none, a byte that is not UTF-8
// one). For text already escaped, so no control character is left to count.
std::string CutToColumns(const std::string& text, int columns);

// What a screen may show: passwords masked, control characters escaped, line ends kept.
inline std::string ShownText(const std::string& text) { return EscapeControlsKeepLineEnds(MaskFtpPasswords(text)); }

}  // namespace skelder::platform
