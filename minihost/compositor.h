// The host's composite of one composition frame: every visible audio-visual layer that is active
// at the time, from the bottom of the stack up, placed by its 2-D transform (anchor point, scale,
// position; z and the 3-D camera do not move audio-visual layers here) and laid "over" what is
// below it, in premultiplied float. Lights and cameras draw nothing; text layers draw their image
// within their bounds (the content margin is transparent). The effect layer's pixels are
// what the effect rendered for the frame; a layer placed with the identity transform lands pixel
// for pixel, so the effect's output passes through unchanged.
#pragma once

#include <optional>

#include "minihost/composition.h"
#include "minihost/rgba_image.h"

namespace minihost {

// The pixels of an audio-visual layer before its transform: an image's file, a solid's colour, or
// for the effect layer the given effect output (null: transparent).
RgbaImage layerPixels(const Layer& layer, const RgbaImage* effectOutput);

// What a layer parameter hands the effect for a layer: its pixels with the layer's content margin
// (transparent here) on every side, so the image covers the layer's whole content, from
// (-margin, -margin) to (width + margin, height + margin) in layer pixels.
RgbaImage layerContentPixels(const Layer& layer);

// The frame at a composition time over an opaque background colour, or over transparency when
// background is empty.
RgbaImage compositeFrame(const Composition& composition, double compSeconds, const RgbaImage* effectOutput,
                         const std::optional<Rgb>& background);

}  // namespace minihost
