// The texts a user sees in the tray on both editions: the menu items, the
// tooltip and the icon's two labels. Plain #defines, read by the resource
// compiler as well as by the C++ code.
#pragma once

#define TEXT_HELP "help"
#define TEXT_MEET_AUTHOR "meet author"
#define TEXT_END_PROGRAM "end program"

#define TRAY_TOOLTIP "Tavoli by Norvath"
#define TRAY_TOP_LABEL "TAV"
#define TRAY_BOTTOM_LABEL "OLI"
