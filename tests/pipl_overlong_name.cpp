// Not a test program: compiled by ctest (pipl_overlong_name_is_a_build_error) to show that a
// property string longer than its slot stops the compile of the PiPL encoder, and (with
// CINDEL_PIPL_NAME_FITS) that one at the limit compiles.
#include "host/pipl_resource.h"

#ifdef CINDEL_PIPL_NAME_FITS
constexpr auto kName = cindel::pipl::pascalProperty<"A name of thirty-one characters", cindel::pipl::kNameMaxChars>(0);
#else
constexpr auto kName = cindel::pipl::pascalProperty<"A name of thirty-two characters!", cindel::pipl::kNameMaxChars>(0);
#endif
static_assert(kName.textLength > 0);
