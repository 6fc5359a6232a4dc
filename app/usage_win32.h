#pragma once

// Shows the usage text in a box captioned "Usage" with one OK button and
// returns when the user closes it.
int ShowUsage();
