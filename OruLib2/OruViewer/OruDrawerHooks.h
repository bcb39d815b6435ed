#pragma once
// Connects the slide objects to the 3D drawer. The slide objects cannot
// link the drawer, so they leave seams (hooks) that this unit fills at
// start-up: the reading of the show's transition definitions, the filter
// parameters of a slide's transition, the off-screen layer of a slide's
// background cross-fade, the colour tables of background pictures and
// images, and the filter of a slide that carries its own slide-based
// effect.
//
// Calls are counted: the first install saves what the hooks held and the
// last removal puts it back. Install before the first slide is drawn and
// remove after the last; not while another thread draws.

namespace oru {

void InstallDrawerHooks();
void RemoveDrawerHooks();

}  // namespace oru
