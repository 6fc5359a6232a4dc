#include "tray/label_face.h"

namespace {

// Each glyph is drawn as rows 1, 2, ... of its cell separated by spaces ('#'
// ink, '.' none); rows not written stay empty. Every row of a glyph has the
// glyph's width.
constexpr const char* GLYPH_ART[] = {
    "..",                             // ' '
    "# # # . #",                      // !
    "#.# #.#",                        // "
    ".#.#. ##### .#.#. ##### .#.#.",  // #
    ".## ##. .#. .## ##.",            // $
    "#.# ..# .#. #.. #.#",            // %
    ".#.. #.#. .#.. #.#. .#.#",       // &
    "# #",                            // '
    ".# #. #. #. .#",                 // (
    "#. .# .# .# #.",                 // )
    "... #.# .#. #.#",                // *
    "... .#. ### .#.",                // +
    ". . . . # #",                    // ,
    "... ... ###",                    // -
    ". . . . #",                      // .
    "..# ..# .#. #.. #..",            // /
    "### #.# #.# #.# ###",            // 0
    ".#. ##. .#. .#. ###",            // 1
    "##. ..# .#. #.. ###",            // 2
    "##. ..# .#. ..# ##.",            // 3
    "#.# #.# ### ..# ..#",            // 4
    "### #.. ##. ..# ##.",            // 5
    ".## #.. ### #.# ###",            // 6
    "### ..# .#. .#. .#.",            // 7
    "### #.# ### #.# ###",            // 8
    "### #.# ### ..# ##.",            // 9
    ". # . # .",                      // :
    ". # . . # #",                    // ;
    "..# .#. #.. .#. ..#",            // <
    "... ### ... ###",                // =
    "#.. .#. ..# .#. #..",            // >
    "##. ..# .#. ... .#.",            // ?
    ".##. #..# #.## #... .###",       // @
    ".#. #.# ### #.# #.#",            // A
    "##. #.# ##. #.# ##.",            // B
    ".## #.. #.. #.. .##",            // C
    "##. #.# #.# #.# ##.",            // D
    "### #.. ##. #.. ###",            // E
    "### #.. ##. #.. #..",            // F
    ".## #.. #.# #.# .##",            // G
    "#.# #.# ### #.# #.#",            // H
    "### .#. .#. .#. ###",            // I
    "..# ..# ..# #.# .#.",            // J
    "#.# #.# ##. #.# #.#",            // K
    "#.. #.. #.. #.. ###",            // L
    "#...# ##.## #.#.# #...# #...#",  // M
    "#..# ##.# #.## #..# #..#",       // N
    ".#. #.# #.# #.# .#.",            // O
    "##. #.# ##. #.. #..",            // P
    ".#. #.# #.# #.# .#. ..#",        // Q
    "##. #.# ##. #.# #.#",            // R
    ".## #.. .#. ..# ##.",            // S
    "### .#. .#. .#. .#.",            // T
    "#.# #.# #.# #.# ###",            // U
    "#.# #.# #.# #.# .#.",            // V
    "#...# #...# #.#.# ##.## #...#",  // W
    "#.# #.# .#. #.# #.#",            // X
    "#.# #.# .#. .#. .#.",            // Y
    "### ..# .#. #.. ###",            // Z
    "## #. #. #. ##",                 // [
    "#.. #.. .#. ..# ..#",            // backslash
    "## .# .# .# ##",                 // ]
    ".#. #.#",                        // ^
    "... ... ... ... ... ###",        // _
    "#. .#",                          // `
    "... .## #.# #.# .##",            // a
    "#.. ##. #.# #.# ##.",            // b
    "... .## #.. #.. .##",            // c
    "..# .## #.# #.# .##",            // d
    "... .#. ### #.. .##",            // e
    ".## #.. ##. #.. #..",            // f
    "... .## #.# #.# .## ..# ##.",    // g
    "#.. ##. #.# #.# #.#",            // h
    "# . # # #",                      // i
    ".# .. .# .# .# .# #.",           // j
    "#.. #.# ##. #.# #.#",            // k
    "# # # # #",                      // l
    "..... ####. #.#.# #.#.# #.#.#",  // m
    "... ##. #.# #.# #.#",            // n
    "... .#. #.# #.# .#.",            // o
    "... ##. #.# #.# ##. #.. #..",    // p
    "... .## #.# #.# .## ..# ..#",    // q
    "... #.# ##. #.. #..",            // r
    "... .## #.. ..# ##.",            // s
    ".#. ### .#. .#. ..#",            // t
    "... #.# #.# #.# .##",            // u
    "... #.# #.# #.# .#.",            // v
    "..... #...# #.#.# #.#.# .#.#.",  // w
    "... #.# .#. .#. #.#",            // x
    "... #.# #.# #.# .## ..# ##.",    // y
    "... ### ..# .#. ###",            // z
    ".## .#. ##. .#. .##",            // {
    "# # # # #",                      // |
    "##. .#. .## .#. ##.",            // }
    ".... .#.# #.#.",                 // ~
};
constexpr const char* BOX_ART = "#### #..# #..# #..# ####";

constexpr char FIRST_PRINTABLE = ' ';
constexpr char LAST_PRINTABLE = '~';
static_assert(sizeof GLYPH_ART / sizeof GLYPH_ART[0] == LAST_PRINTABLE - FIRST_PRINTABLE + 1);

// A glyph's rows must be equally wide (1 to 5 columns) and fit the cell.
constexpr bool WellFormed(const char* art) {
  int rows = 1;
  int width = -1;
  int x = 0;
  for (const char* p = art;; ++p) {
    if (*p == ' ' || *p == '\0') {
      if (width < 0) width = x;
      if (x != width) return false;
      if (*p == '\0') break;
      ++rows;
      x = 0;
    } else if (*p == '#' || *p == '.') {
      ++x;
    } else {
      return false;
    }
  }
  return width >= 1 && width <= 5 && rows < LABEL_CELL_HEIGHT;
}

constexpr bool AllWellFormed() {
  for (const char* art : GLYPH_ART) {
    if (!WellFormed(art)) return false;
  }
  return WellFormed(BOX_ART);
}
static_assert(AllWellFormed(), "a glyph of the label face is malformed");

LabelGlyph ParseGlyph(const char* art) {
  LabelGlyph glyph;
  int y = 1;
  int x = 0;
  for (const char* p = art; *p != '\0'; ++p) {
    if (*p == ' ') {
      ++y;
      x = 0;
      continue;
    }
    if (y < LABEL_CELL_HEIGHT && x < 8) {
      if (*p == '#') glyph.rows[y] = static_cast<std::uint8_t>(glyph.rows[y] | (1u << x));
      ++x;
      if (y == 1) glyph.width = x;
    }
  }
  return glyph;
}

}  // namespace

LabelGlyph LabelGlyphOf(char character) {
  if (character < FIRST_PRINTABLE || character > LAST_PRINTABLE) return ParseGlyph(BOX_ART);
  return ParseGlyph(GLYPH_ART[character - FIRST_PRINTABLE]);
}

int LabelTextWidth(std::string_view text) {
  int width = 0;
  for (const char character : text) width += LabelGlyphOf(character).width + LABEL_GLYPH_GAP;
  return text.empty() ? 0 : width - LABEL_GLYPH_GAP;
}
