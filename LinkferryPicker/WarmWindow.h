#pragma once

// The picker window kept warm by the service (`linkferry-picker --warm`): GTK started, the style
// sheet, theme, fonts, icons and desktop entries loaded by a window built and laid out out of
// sight, so that a click's window needs only its own rows built before its first frame.
namespace linkferry::picker::WarmWindow {

// Call with GTK initialised and the style applied. Says PickerProtocol::kWarmReady on standard
// output once warm, reads one PickerProtocol::WarmRequest line from standard input, shows it
// (raised with the click's focus token) and writes the answer as one line on standard output,
// like the cold window. Returns the exit status: 0 after an answer or when standard input ends
// before a request (the service went away), 1 when the request cannot be read. One window per
// process: the service starts a fresh one for the next click, so nothing of one click stays.
int run();

}  // namespace linkferry::picker::WarmWindow
