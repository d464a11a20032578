// The host side of the interface, exercised through a stand-in plug-in: what
// a real plug-in gets back from each callback, and what the ledger makes of
// what it takes and gives back.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/refhost/Probe.h"

namespace refhosttest {
namespace {

using refhost::CommandResult;
using refhost::Depth;
using refhost::Host;
using refhost::World;

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) out += "\n  " + s;
    return out;
}

constexpr PF_Cmd ANY_COMMAND = 99;

TEST(HostBasicSuite, GivesOutSuitesByExactNameAndVersionOnly) {
    const struct {
        const char* name;
        int32_t version;
        bool offered;
    } rows[] = {
        {"PF Handle Suite", 2, true},       {"PF Handle Suite", 1, false},
        {"pf handle suite", 2, false},      {"PF ColorParamSuite", 1, true},
        {"PF ColorParamSuite", 2, false},   {"PF World Suite", 2, true},
        {"PF World Suite", 1, true},        {"PF World Suite", 3, false},
        {"PF Iterate8 Suite", 1, true},     {"PF iterate8 Suite", 1, false},
        {"PF iterate16 Suite", 1, true},    {"PF Iterate16 Suite", 1, false},
        {"PF iterateFloat Suite", 2, true}, {"PF ANSI Suite", 1, false},
        {"PF Handle Suite ", 2, false},     {"", 0, false},
    };
    Host host(ProbeEntry);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " v" + std::to_string(row.version));
        SPErr acquired = 0;
        const void* suite = reinterpret_cast<const void*>(1);
        Probe probe([&](const ProbeCall& c) {
            acquired = c.in->pica_basicP->AcquireSuite(row.name, row.version, &suite);
            if (acquired == 0) c.in->pica_basicP->ReleaseSuite(row.name, row.version);
            return PF_Err_NONE;
        });
        const CommandResult r = host.sendCommand(ANY_COMMAND);
        EXPECT_EQ(acquired == 0, row.offered);
        EXPECT_EQ(suite != nullptr, row.offered) << "a refused suite must come back null";
        EXPECT_TRUE(r.imbalances.empty()) << joined(r.imbalances);
    }
}

TEST(HostBasicSuite, NoBasicSuiteMeansANullPointerInInData) {
    Host host(ProbeEntry);
    host.setBasicSuiteAvailable(false);
    bool sawNull = false;
    Probe probe([&](const ProbeCall& c) {
        sawNull = c.in->pica_basicP == nullptr;
        return PF_Err_NONE;
    });
    host.sendCommand(ANY_COMMAND);
    EXPECT_TRUE(sawNull);
}

// ---- Ledger --------------------------------------------------------------

const PF_HandleSuite1* handles(const ProbeCall& c) {
    return acquire<PF_HandleSuite1>(c, kPFHandleSuite, kPFHandleSuiteVersion1);
}

TEST(HostLedger, FindsWhatAPlugInKeptOrGaveBackTwice) {
    const struct {
        const char* what;
        ProbeBody body;
        const char* imbalance;  // substring expected, or null for a balanced command
    } rows[] = {
        {"suite acquired and released",
         [](const ProbeCall& c) {
             handles(c);
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         nullptr},
        {"suite acquired, never released",
         [](const ProbeCall& c) {
             handles(c);
             return PF_Err_NONE;
         },
         "\"PF Handle Suite\" v2: acquired 1, released 0"},
        {"suite released once more than acquired",
         [](const ProbeCall& c) {
             handles(c);
             release(c, kPFHandleSuite, 2);
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         "released 1 time(s) without being held"},
        {"suite refused, then released anyway",
         [](const ProbeCall& c) {
             acquire<void>(c, "PF Unknown Suite", 1);
             release(c, "PF Unknown Suite", 1);
             return PF_Err_NONE;
         },
         "without being held"},
        {"handle made, locked, unlocked, disposed",
         [](const ProbeCall& c) {
             const PF_HandleSuite1* h = handles(c);
             PF_Handle handle = h->host_new_handle(36);
             h->host_lock_handle(handle);
             h->host_unlock_handle(handle);
             h->host_dispose_handle(handle);
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         nullptr},
        {"handle never disposed",
         [](const ProbeCall& c) {
             handles(c)->host_new_handle(8);
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         "created, never disposed"},
        {"handle locked twice, unlocked once",
         [](const ProbeCall& c) {
             const PF_HandleSuite1* h = handles(c);
             PF_Handle handle = h->host_new_handle(8);
             h->host_lock_handle(handle);
             h->host_lock_handle(handle);
             h->host_unlock_handle(handle);
             h->host_dispose_handle(handle);
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         "locked 1 more time(s) than unlocked"},
        {"unlock without lock",
         [](const ProbeCall& c) {
             const PF_HandleSuite1* h = handles(c);
             PF_Handle handle = h->host_new_handle(8);
             h->host_unlock_handle(handle);
             h->host_dispose_handle(handle);
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         "unlock(s) of a handle that was not locked"},
        {"handle disposed twice",
         [](const ProbeCall& c) {
             const PF_HandleSuite1* h = handles(c);
             PF_Handle handle = h->host_new_handle(8);
             h->host_dispose_handle(handle);
             h->host_dispose_handle(handle);  // must not free twice either
             release(c, kPFHandleSuite, 2);
             return PF_Err_NONE;
         },
         "dispose(s) of a handle the host does not hold"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host host(ProbeEntry);
        Probe probe(row.body);
        const CommandResult r = host.sendCommand(ANY_COMMAND);
        if (!row.imbalance) {
            EXPECT_TRUE(r.imbalances.empty()) << joined(r.imbalances);
        } else {
            ASSERT_EQ(r.imbalances.size(), 1u) << joined(r.imbalances);
            EXPECT_NE(r.imbalances[0].find(row.imbalance), std::string::npos) << r.imbalances[0];
        }
    }
}

// A frame's worth of pre-render and render bodies, for the checkout and
// settings-handle books.
struct FrameBodies {
    bool recordHandle = true;
    bool disposeOwnHandle = false;
    bool checkIn = true;
    bool checkOut = true;
};

PF_Err frameProbe(const ProbeCall& c, const FrameBodies& f) {
    if (c.cmd == PF_Cmd_SMART_PRE_RENDER) {
        auto* extra = static_cast<PF_PreRenderExtra*>(c.extra);
        const PF_HandleSuite1* h = handles(c);
        PF_Handle handle = h->host_new_handle(36);
        if (f.recordHandle) extra->output->pre_render_data = handle;
        if (f.disposeOwnHandle) h->host_dispose_handle(handle);
        PF_CheckoutResult result{};
        const PF_Err err = extra->cb->checkout_layer(
            c.in->effect_ref, 0, 0, &extra->input->output_request, c.in->current_time,
            c.in->time_step, c.in->time_scale, &result);
        release(c, kPFHandleSuite, 2);
        return err;
    }
    if (c.cmd == PF_Cmd_SMART_RENDER) {
        auto* extra = static_cast<PF_SmartRenderExtra*>(c.extra);
        PF_EffectWorld* in = nullptr;
        if (f.checkOut) extra->cb->checkout_layer_pixels(c.in->effect_ref, 0, &in);
        if (f.checkIn) extra->cb->checkin_layer_pixels(c.in->effect_ref, 0);
    }
    return PF_Err_NONE;
}

TEST(HostLedger, SettingsHandleAndCheckoutsAcrossAFrame) {
    const struct {
        const char* what;
        FrameBodies bodies;
        const char* preRenderImbalance;
        const char* renderImbalance;
        bool renderNote;
    } rows[] = {
        // A host handle as pre-render data is never freed: the host frees
        // pre-render data only through the plug-in's delete function.
        {"a handle handed over as pre-render data",
         {},
         "without delete_pre_render_data_func",
         nullptr,
         false},
        {"kept back from the host",
         {false, false, true, true},
         "created, never disposed",
         nullptr,
         false},
        {"disposed of and handed over anyway",
         {true, true, true, true},
         "without delete_pre_render_data_func",
         nullptr,
         false},
        {"input never checked in",
         {false, true, false, true},
         nullptr,
         "layer checkout id 0: checked out 1, checked in 0",
         false},
        {"checked in without a checkout: a note",
         {false, true, true, false},
         nullptr,
         nullptr,
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host host(ProbeEntry);
        Probe probe([&](const ProbeCall& c) { return frameProbe(c, row.bodies); });
        World in(Depth::U8, 4, 2), out(Depth::U8, 4, 2);
        const refhost::FrameResult frame = host.renderFrame(in, out);
        EXPECT_FALSE(frame.preRenderDataDeleted);
        ASSERT_TRUE(frame.render.has_value());
        for (const auto& [result, expected] : {std::pair{&frame.preRender, row.preRenderImbalance},
                                               std::pair{&*frame.render, row.renderImbalance}}) {
            if (!expected) {
                EXPECT_TRUE(result->imbalances.empty()) << joined(result->imbalances);
            } else {
                EXPECT_NE(joined(result->imbalances).find(expected), std::string::npos)
                    << joined(result->imbalances);
            }
        }
        EXPECT_EQ(!frame.render->notes.empty(), row.renderNote) << joined(frame.render->notes);
    }
}

TEST(HostCommands, AnExceptionLeavingTheEntryPointIsCaughtAndReported) {
    Host host(ProbeEntry);
    Probe probe([](const ProbeCall&) -> PF_Err { throw std::runtime_error("plug-in bug"); });
    const CommandResult r = host.sendCommand(PF_Cmd_GLOBAL_SETUP);
    EXPECT_TRUE(r.exceptionEscaped);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
}

// ---- Parameters ------------------------------------------------------------

// Declares a colour, a slider and a popup, as an effect's parameter setup does.
PF_Err declareParams(const ProbeCall& c) {
    PF_ParamDef def{};
    def.param_type = PF_Param_COLOR;
    c.in->utils->ansi.strcpy(def.name, "Key");
    def.u.cd.value = PF_Pixel{255, 1, 2, 3};
    def.uu.id = 11;
    PF_Err err = c.in->inter.add_param(c.in->effect_ref, PF_ParamIndex_APPEND, &def);
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    c.in->utils->ansi.strcpy(def.name, "\xBA\xBA");  // "汉" in GBK: bytes pass unconverted
    def.u.fs_d.value = 0.5;
    def.uu.id = 22;
    if (!err) err = c.in->inter.add_param(c.in->effect_ref, PF_ParamIndex_APPEND, &def);
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_POPUP;
    c.in->utils->ansi.strcpy(def.name, "View");
    def.u.pd.num_choices = 2;
    def.u.pd.value = 2;
    def.u.pd.u.namesptr = "A|B";
    def.uu.id = 33;
    if (!err) err = c.in->inter.add_param(c.in->effect_ref, PF_ParamIndex_APPEND, &def);
    c.out->num_params = 4;
    return err;
}

TEST(HostParams, StoresDefinitionsAndHandsOutTheValuesSet) {
    Host host(ProbeEntry);
    {
        Probe probe(declareParams);
        const CommandResult r = host.paramsSetup();
        ASSERT_EQ(r.err, PF_Err_NONE);
        EXPECT_TRUE(r.warnings.empty()) << joined(r.warnings);
    }
    const auto& params = host.params();
    ASSERT_EQ(params.size(), 4u);
    EXPECT_EQ(params[0].type, PF_Param_LAYER);
    EXPECT_EQ(params[2].name, "\xBA\xBA");
    EXPECT_EQ(params[2].id, 22);
    EXPECT_EQ(params[3].choices, "A|B");
    EXPECT_STREQ(params[3].current.u.pd.u.namesptr, "A|B");

    host.setColor(1, PF_Pixel{128, 0, 51, 255});
    host.setFloat(2, 0.1);
    host.setPopup(3, 1);
    EXPECT_THROW(host.setFloat(1, 0.5), refhost::Error);
    EXPECT_THROW(host.setPopup(9, 1), refhost::Error);

    PF_ParamDef got[4]{};
    PF_Err outOfRange = 0;
    PF_PixelFloat color{};
    PF_Err addLater = 0;
    Probe probe([&](const ProbeCall& c) {
        for (int i = 1; i <= 3; ++i)
            c.in->inter.checkout_param(c.in->effect_ref, i, c.in->current_time, c.in->time_step,
                                       c.in->time_scale, &got[i]);
        outOfRange = c.in->inter.checkout_param(c.in->effect_ref, 4, 0, 1, 24, &got[0]);
        const auto* cs = acquire<PF_ColorParamSuite1>(c, kPFColorParamSuite, 1);
        cs->PF_GetFloatingPointColorFromColorDef(c.in->effect_ref, &got[1], &color);
        release(c, kPFColorParamSuite, 1);
        PF_ParamDef late{};
        late.param_type = PF_Param_FLOAT_SLIDER;
        addLater = c.in->inter.add_param(c.in->effect_ref, PF_ParamIndex_APPEND, &late);
        return PF_Err_NONE;
    });
    const CommandResult r = host.sendCommand(ANY_COMMAND);
    EXPECT_TRUE(r.warnings.empty()) << joined(r.warnings);
    EXPECT_EQ(got[1].u.cd.value.alpha, 128);
    EXPECT_EQ(got[2].u.fs_d.value, 0.1);
    EXPECT_EQ(got[3].u.pd.value, 1);
    EXPECT_EQ(got[2].uu.id, 22);
    EXPECT_EQ(outOfRange, PF_Err_INVALID_INDEX);
    EXPECT_EQ(addLater, PF_Err_BAD_CALLBACK_PARAM)
        << "parameters are added in parameter setup only";
    // 8-bit channels become c / 255 in single precision, alpha included.
    EXPECT_EQ(color.alpha, 128 / 255.0f);
    EXPECT_EQ(color.red, 0.0f);
    EXPECT_EQ(color.green, 51 / 255.0f);
    EXPECT_EQ(color.blue, 1.0f);
}

TEST(HostParams, RefusesLabelsWithoutTheirNulAndWrongIndices) {
    Host host(ProbeEntry);
    PF_Err unterminated = 0, badIndex = 0;
    Probe probe([&](const ProbeCall& c) {
        PF_ParamDef def{};
        def.param_type = PF_Param_FLOAT_SLIDER;
        std::memset(def.name, 'x', sizeof def.name);
        unterminated = c.in->inter.add_param(c.in->effect_ref, PF_ParamIndex_APPEND, &def);
        def.name[0] = 0;
        badIndex = c.in->inter.add_param(c.in->effect_ref, 5, &def);
        return PF_Err_NONE;
    });
    host.paramsSetup();
    EXPECT_EQ(unterminated, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(badIndex, PF_Err_INVALID_INDEX);
    EXPECT_EQ(host.params().size(), 1u);
}

TEST(HostParams, WarnsWhenCheckoutsAskForAnotherTime) {
    Host host(ProbeEntry);
    host.setTime(48, 2, 24);
    Probe probe([&](const ProbeCall& c) {
        PF_ParamDef def{};
        c.in->inter.checkout_param(c.in->effect_ref, 0, 0, 1, 24, &def);
        return PF_Err_NONE;
    });
    const CommandResult r = host.sendCommand(ANY_COMMAND);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("0/1/24 in a frame at 48/2/24"), std::string::npos)
        << r.warnings[0];
}

// ---- Utility callbacks ---------------------------------------------------------

TEST(HostUtils, SprintfNeverWritesPastReturnMsg) {
    Host host(ProbeEntry);
    const std::string longText(600, 'm');
    int written = 0;
    Probe probe([&](const ProbeCall& c) {
        c.out->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
        written = c.in->utils->ansi.sprintf(c.out->return_msg, "%s", longText.c_str());
        return PF_Err_NONE;
    });
    const CommandResult r = host.sendCommand(ANY_COMMAND);
    EXPECT_EQ(written, 255);
    EXPECT_EQ(r.message(), std::string(255, 'm'));
    EXPECT_EQ(r.out.start_sampL, 0) << "the field after return_msg was overwritten";
}

TEST(HostUtils, SprintfFormatsIntegersAndStringsAsCBuildsThem) {
    Host host(ProbeEntry);
    Probe probe([&](const ProbeCall& c) {
        c.in->utils->ansi.sprintf(c.out->return_msg, "%s, v%d.%d\r%s", "Name", 1, 1, "x\xBA\xBA");
        return PF_Err_NONE;
    });
    std::string text;
    host.about(text);
    EXPECT_EQ(text, "Name, v1.1\rx\xBA\xBA");
}

TEST(HostUtils, CopyMovesWholeWorldsRowByRowWithTheirOwnRowbytes) {
    Host host(ProbeEntry);
    World src(Depth::U16, 3, 4, 10), dst(Depth::U16, 3, 4, 2), other(Depth::U8, 3, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            src.at<PF_Pixel16>(x, y) = PF_Pixel16{A_u_short(x), A_u_short(y), A_u_short(x * y), 7};
    host.exposeWorld(src);
    host.exposeWorld(dst);
    host.exposeWorld(other);
    PF_Err same = -1, mixed = -1, null = -1;
    Probe probe([&](const ProbeCall& c) {
        same = c.in->utils->copy(c.in->effect_ref, src.effectWorld(), dst.effectWorld(), nullptr,
                                 nullptr);
        mixed = c.in->utils->copy(c.in->effect_ref, src.effectWorld(), other.effectWorld(), nullptr,
                                  nullptr);
        null = c.in->utils->copy(c.in->effect_ref, nullptr, dst.effectWorld(), nullptr, nullptr);
        return PF_Err_NONE;
    });
    host.sendCommand(ANY_COMMAND);
    EXPECT_EQ(same, PF_Err_NONE);
    EXPECT_TRUE(dst.samePixels(src));
    EXPECT_TRUE(dst.paddingIntact());
    EXPECT_EQ(mixed, PF_Err_BAD_CALLBACK_PARAM) << "no silent conversion between depths";
    EXPECT_EQ(null, PF_Err_BAD_CALLBACK_PARAM);
}

// ---- Worlds and the frame callbacks ----------------------------------------------

TEST(HostFrame, PixelFormatOfEachDepthAndAnErrorForANullWorld) {
    const struct {
        Depth depth;
        PF_PixelFormat format;
    } rows[] = {{Depth::U8, PF_PixelFormat_ARGB32},
                {Depth::U16, PF_PixelFormat_ARGB64},
                {Depth::F32, PF_PixelFormat_ARGB128}};
    for (const auto& row : rows) {
        SCOPED_TRACE(refhost::depthName(row.depth));
        Host host(ProbeEntry);
        PF_PixelFormat ofInput = 0, ofOutput = 0, ofNull = PF_PixelFormat_INVALID;
        PF_Err nullErr = 0, foreignErr = 0;
        Probe probe([&](const ProbeCall& c) {
            if (c.cmd == PF_Cmd_SMART_PRE_RENDER) {
                auto* e = static_cast<PF_PreRenderExtra*>(c.extra);
                PF_CheckoutResult res{};
                return e->cb->checkout_layer(c.in->effect_ref, 0, 7, &e->input->output_request,
                                             c.in->current_time, c.in->time_step, c.in->time_scale,
                                             &res);
            }
            auto* e = static_cast<PF_SmartRenderExtra*>(c.extra);
            PF_EffectWorld *in = nullptr, *out = nullptr;
            e->cb->checkout_layer_pixels(c.in->effect_ref, 7, &in);
            e->cb->checkout_output(c.in->effect_ref, &out);
            const auto* ws = acquire<PF_WorldSuite2>(c, kPFWorldSuite, 2);
            ws->PF_GetPixelFormat(in, &ofInput);
            ws->PF_GetPixelFormat(out, &ofOutput);
            nullErr = ws->PF_GetPixelFormat(nullptr, &ofNull);
            PF_EffectWorld foreign{};
            foreignErr = ws->PF_GetPixelFormat(&foreign, &ofNull);
            release(c, kPFWorldSuite, 2);
            return e->cb->checkin_layer_pixels(c.in->effect_ref, 7);
        });
        World in(row.depth, 2, 2), out(row.depth, 2, 2);
        const refhost::FrameResult frame = host.renderFrame(in, out);
        EXPECT_EQ(frame.err(), PF_Err_NONE);
        EXPECT_EQ(ofInput, row.format);
        EXPECT_EQ(ofOutput, row.format);
        EXPECT_EQ(nullErr, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(foreignErr, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(ofNull, PF_PixelFormat_INVALID) << "a refused query leaves the format alone";
        EXPECT_TRUE(frame.imbalances().empty()) << joined(frame.imbalances());
    }
}

TEST(HostFrame, PreRenderSeesTheHostsRequestAndTheInputsBounds) {
    Host host(ProbeEntry);
    PF_CheckoutResult result{};
    PF_RenderRequest request{};
    Probe probe([&](const ProbeCall& c) -> PF_Err {
        if (c.cmd != PF_Cmd_SMART_PRE_RENDER) return PF_Err_NONE;
        auto* e = static_cast<PF_PreRenderExtra*>(c.extra);
        request = e->input->output_request;
        e->output->result_rect = PF_LRect{1, 1, 2, 2};
        return e->cb->checkout_layer(c.in->effect_ref, 0, 0, &request, c.in->current_time,
                                     c.in->time_step, c.in->time_scale, &result);
    });
    World in(Depth::F32, 6, 3), out(Depth::F32, 6, 3);
    const refhost::FrameResult frame = host.renderFrame(in, out);
    EXPECT_EQ(frame.err(), PF_Err_NONE);
    EXPECT_EQ(request.rect.right, 6);
    EXPECT_EQ(request.rect.bottom, 3);
    EXPECT_EQ(result.result_rect.right, 6);
    EXPECT_EQ(result.max_result_rect.bottom, 3);
    const std::optional<PF_RenderRequest> seen = host.lastLayerRequest();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(std::memcmp(&*seen, &request, sizeof request), 0);
    EXPECT_EQ(frame.resultRect.left, 1) << "what the plug-in wrote comes back to the caller";
}

TEST(HostFrame, OnlyCheckoutIdsAskedForInThePreRenderCanBeFetched) {
    Host host(ProbeEntry);
    PF_Err unknownId = 0;
    PF_EffectWorld* world = reinterpret_cast<PF_EffectWorld*>(1);
    Probe probe([&](const ProbeCall& c) {
        if (c.cmd != PF_Cmd_SMART_RENDER) return PF_Err_NONE;
        auto* e = static_cast<PF_SmartRenderExtra*>(c.extra);
        unknownId = e->cb->checkout_layer_pixels(c.in->effect_ref, 3, &world);
        return PF_Err_NONE;
    });
    World in(Depth::U8, 2, 2), out(Depth::U8, 2, 2);
    host.renderFrame(in, out);
    EXPECT_EQ(unknownId, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(world, nullptr);
}

TEST(HostFrame, RenderIsSkippedAfterAFailedPreRenderAndDataItSetIsNeverDeleted) {
    Host host(ProbeEntry);
    Probe probe([&](const ProbeCall& c) {
        if (c.cmd != PF_Cmd_SMART_PRE_RENDER) return PF_Err_NONE;
        auto* e = static_cast<PF_PreRenderExtra*>(c.extra);
        e->output->pre_render_data = handles(c)->host_new_handle(36);
        release(c, kPFHandleSuite, 2);
        return PF_Err_OUT_OF_MEMORY;
    });
    World in(Depth::U8, 2, 2), out(Depth::U8, 2, 2);
    const refhost::FrameResult frame = host.renderFrame(in, out);
    EXPECT_EQ(frame.err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(frame.render.has_value());
    EXPECT_TRUE(frame.hadPreRenderData);
    EXPECT_FALSE(frame.preRenderDataDeleted);
    EXPECT_NE(joined(frame.imbalances()).find("pre-render that failed"), std::string::npos)
        << joined(frame.imbalances());
}

// Pre-render data of the plug-in's own, with its delete function: the host
// deletes it once, after the render, or when no render follows (before the
// next pre-render, when the host goes), on whatever thread disposes of it.
std::atomic<int> deletes{0};
void DeleteInt(void* p) {
    ++deletes;
    delete static_cast<int*>(p);
}
void DeleteThrows(void* p) {
    DeleteInt(p);
    throw std::runtime_error("delete");
}

TEST(HostFrame, PreRenderDataIsDeletedOnceThroughThePluginsFunction) {
    const struct {
        const char* what;
        PF_DeletePreRenderDataFunc del;
        int deletes_before_host_goes;
        int deletes_in_all;
        std::size_t warnings;
        void (*drive)(Host& host, World& in, World& out);
    } rows[] = {
        {"after the render", DeleteInt, 1, 1, 0,
         [](Host& h, World& in, World& out) {
             EXPECT_TRUE(h.renderFrame(in, out).preRenderDataDeleted);
         }},
        {"no render, then the next pre-render", DeleteInt, 1, 2, 0,
         [](Host& h, World& in, World&) {
             PF_PreRenderOutput a{}, b{};
             h.smartPreRender(in, a);
             EXPECT_EQ(deletes, 0);
             h.smartPreRender(in, b);
         }},
        {"no render, then the host goes", DeleteInt, 0, 1, 0,
         [](Host& h, World& in, World&) {
             PF_PreRenderOutput a{};
             h.smartPreRender(in, a);
         }},
        {"disposed of on another thread", DeleteInt, 1, 1, 0,
         [](Host& h, World& in, World&) {
             PF_PreRenderOutput a{};
             h.smartPreRender(in, a);
             bool deleted = false;
             std::thread([&] { deleted = h.disposePreRenderData(a.pre_render_data); }).join();
             EXPECT_TRUE(deleted);
             EXPECT_FALSE(h.disposePreRenderData(a.pre_render_data)) << "deleted twice";
         }},
        {"a delete function that throws", DeleteThrows, 1, 1, 1,
         [](Host& h, World& in, World& out) { h.renderFrame(in, out); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        deletes = 0;
        Probe probe([&](const ProbeCall& c) {
            if (c.cmd != PF_Cmd_SMART_PRE_RENDER) return PF_Err_NONE;
            auto* e = static_cast<PF_PreRenderExtra*>(c.extra);
            e->output->pre_render_data = new int(7);
            e->output->delete_pre_render_data_func = row.del;
            return PF_Err_NONE;
        });
        {
            Host host(ProbeEntry);
            World in(Depth::U8, 2, 2), out(Depth::U8, 2, 2);
            row.drive(host, in, out);
            EXPECT_EQ(deletes, row.deletes_before_host_goes);
            EXPECT_EQ(host.warnings().size(), row.warnings);
        }
        EXPECT_EQ(deletes, row.deletes_in_all);
    }
}

// ---- Registration resource against global setup ---------------------------------

TEST(HostRegistration, GlobalSetupWarnsOnEveryMismatchWithTheResource) {
    const struct {
        A_u_long version;
        PF_OutFlags flags;
        PF_OutFlags2 flags2;
        std::size_t warnings;
    } rows[] = {
        {0x00088601, 0x02000400, 0x1400, 0},
        {0x00088602, 0x02000400, 0x1400, 1},
        {0x00088601, 0x02000401, 0x1401, 2},
    };
    for (const auto& row : rows) {
        Host host(ProbeEntry);
        refhost::PiplInfo pipl;
        pipl.version = 0x00088601;
        pipl.outFlags = 0x02000400;
        pipl.outFlags2 = 0x1400;
        host.setRegistration(pipl);
        Probe probe([&](const ProbeCall& c) {
            c.out->my_version = row.version;
            c.out->out_flags = row.flags;
            c.out->out_flags2 = row.flags2;
            return PF_Err_NONE;
        });
        const CommandResult r = host.globalSetup();
        EXPECT_EQ(r.warnings.size(), row.warnings) << joined(r.warnings);
        EXPECT_EQ(host.warnings().size(), row.warnings);
    }
}

TEST(PluginLibrary, LoadFailuresNameTheFile) {
    const std::string missing = "/nonexistent/dir/NoSuchPlugin.so";
    try {
        refhost::PluginLibrary::load(missing);
        FAIL() << "loaded a file that does not exist";
    } catch (const refhost::Error& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
}

TEST(PluginLibrary, LoadsTheEffectWithItsEntryPointAndRegistration) {
    const refhost::PluginLibrary lib = refhost::PluginLibrary::load(KESTRELUMEN_PLUGIN_PATH);
    EXPECT_NE(lib.entry(), nullptr);
    EXPECT_EQ(lib.entryName(), "EntryPointFunc");
    ASSERT_TRUE(lib.registrationResource().has_value())
        << "no registration file next to the library";
    Host host(lib);
    EXPECT_TRUE(host.registration().has_value());
    const CommandResult r = host.globalSetup();
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_TRUE(r.warnings.empty()) << joined(r.warnings);
}

}  // namespace
}  // namespace refhosttest
