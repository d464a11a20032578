// The reference host: loads an effect library and renders frames through
// its EntryPointFunc as the compositing host does, with a ledger of every
// resource the effect takes and a way to make any host call fail.
//
//   refhost::PluginLibrary lib = refhost::PluginLibrary::load(path);
//   refhost::Host host(lib, {/*threads*/ 0});
//   std::string about; host.about(about);
//   host.globalSetup();            // warnings() on a registration mismatch
//   host.paramsSetup();            // params(): labels, types, ids, ranges, defaults
//   host.setFloat(2, 0.25);        // values reach the effect through checkout_param
//   refhost::World in(refhost::Depth::F32, w, h), out(refhost::Depth::F32, w, h);
//   refhost::FrameResult r = host.renderFrame(in, out);
//   if (r.err()) show(r.render ? r.render->message() : r.preRender.message());
#pragma once

#include "refhost/Depth.h"
#include "refhost/Faults.h"
#include "refhost/Host.h"
#include "refhost/Ledger.h"
#include "refhost/Pipl.h"
#include "refhost/PluginLibrary.h"
#include "refhost/World.h"
