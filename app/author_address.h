// Where "meet author" takes the user.
#pragma once

inline constexpr char AUTHOR_ADDRESS[] = "https://norvath.example/gleamo/";
