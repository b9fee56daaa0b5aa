#pragma once
// The windows speak English whatever LANG says. The toolkit takes its default locale from
// the environment and uses it for what it writes itself (the kind of a file, the numbers
// in spin boxes); our own texts write numbers and dates in English by themselves.

namespace keldwick {

// Makes the toolkit's default locale English in the user's region. Call once, after the
// application object exists and before any window is made.
void useInterfaceLocale();

}  // namespace keldwick
