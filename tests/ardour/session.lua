-- Builds an Ardour session around korvane, checks what Ardour reports about
-- it, sets its parameters and records a silent take to carry the input.
--
-- Run by ardour7-lua (headless, dummy audio backend):
--   ardour7-lua session.lua FORM DIR NAME RATE TEMPO FRAMES V0 .. V10
-- FORM is "vst" for the VST 2 library or "lv2" for the LV2 bundle, DIR/NAME
-- the session to create, RATE its sample rate in Hz (korvane counts its
-- samples at that rate), TEMPO its tempo in beats per minute, FRAMES the
-- length of the input (the take is a second longer), V0..V10 the values to
-- give korvane's eleven parameters: normalised for the VST 2 library, in the
-- port's units for the LV2 bundle (a unit after the number, as `korvane
-- render --set` reads it, is ignored: "12/16", "7st"). Prints what Ardour
-- reports; the last line is "korvane-ardour: session PASS" or "... FAIL".
local here = debug.getinfo(1, "S").source:match("^@(.*/)") or "./"
local E = dofile(here .. "expect.lua")
local H = dofile(here .. "harness.lua")

local kSettle = 10.0 -- seconds to wait for the engine to act on a change

local form, dir, name, rate = arg[1], arg[2], arg[3], tonumber(arg[4])
local tempo, frames = tonumber(arg[5]), tonumber(arg[6])
if form == "lv2" then E = E.lv2 end
local values = H.values(arg, 7)

local function set_tempo(bpm)
  local map = Temporal.TempoMap.fetch_writable()
  map:set_tempo(Temporal.Tempo(bpm, bpm, 4), Temporal.timepos_t(0))
  Temporal.TempoMap.update(map)
end

local function record_take(track, length)
  track:rec_enable_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
  Session:goto_start(false)
  Session:maybe_enable_record(false)
  Session:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
  local rolled = H.wait_until(60, function()
    return Session:transport_sample() >= length
  end)
  Session:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
  H.check(rolled, "transport reached " .. length .. " samples while recording")
  local written = H.wait_until(30, function()
    return not Session:transport_rolling() and
        track:playlist():region_list():size() > 0
  end)
  H.check(written, "the take became a region")
  Session:disable_record(false, false)
  track:rec_enable_control():set_value(0, PBD.GroupControlDisposition.NoGroup)
end

H.use_dummy_backend()
create_session(dir, name, rate)
H.report("session rate", Session:nominal_sample_rate(), rate)
set_tempo(tempo)

local tracks = Session:new_audio_track(2, 2, nil, 1, H.track,
    ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false)
local track = tracks:front()
local proc = ARDOUR.LuaAPI.new_plugin(Session,
    E.type == "LV2" and E.unique_id or E.name, ARDOUR.PluginType[E.type], "")
if proc:isnil() then
  H.give_up("session", "Ardour found korvane as an " .. E.type .. " plug-in")
  return
end
H.check(track:add_processor_by_index(proc, 0, nil, true) == 0,
    "korvane inserted on the track")

local insert = proc:to_insert()
local plugin = insert:plugin(0)
local info = plugin:get_info()
H.report("name", plugin:name(), E.name)
H.report("maker", plugin:maker(), E.maker)
H.report("unique id", plugin:unique_id(), E.unique_id)
H.report("type", info.type == ARDOUR.PluginType[E.type] and E.type or "other",
    E.type)
H.report("category", info.category, E.category)
H.report("inputs", info.n_inputs:n_audio(), E.inputs)
H.report("outputs", info.n_outputs:n_audio(), E.outputs)
H.report("insert inputs", insert:natural_input_streams():n_audio(), E.inputs)
H.report("insert outputs", insert:natural_output_streams():n_audio(), E.outputs)
-- Ardour counts every port of an LV2 plug-in as a parameter; the settings
-- are its control inputs, numbered from 0 in port order.
local names = H.control_inputs(plugin)
H.report("parameter count", #names, #E.parameters)
for i, label in ipairs(names) do
  H.report("parameter " .. (i - 1) .. " name", label, E.parameters[i])
end

local function param(i) return H.param(proc, i) end
local function report_defaults(loop)
  for i = 0, 10 do
    H.report_value("default " .. E.parameters[i + 1], param(i),
        E.default(i, loop, rate))
  end
end
local function set_values(first, last)
  for i = first, last do
    H.check(ARDOUR.LuaAPI.set_processor_param(proc, i, values[i]),
        "Ardour set " .. E.parameters[i + 1])
  end
end

-- The LV2 bundle's port values are the host's: its defaults, then the
-- values as set.
local loop = nil
if not E.converts then
  report_defaults()
  set_values(0, 10)
else
  -- Before anything is set: the VST 2 library's defaults, with the loop
  -- length that its engine derived from the session tempo that Ardour
  -- passes in time info, in samples of the session's rate.
  loop = E.default_loop(tempo, rate)

  -- Until its first processed sample korvane answers a value as it was set
  -- (and its defaults against the loop of 120 bpm): a value set off the
  -- loop's grid that reads back on it shows that korvane has run. The
  -- default is then set again.
  local probe = 0.1234567
  H.check(ARDOUR.LuaAPI.set_processor_param(proc, 2, probe),
      "Ardour set st rate")
  H.check(H.wait_until(kSettle, function()
    return H.close(param(2), E.readback(2, probe, loop))
  end), "korvane converted a value set before its first sample")
  H.check(ARDOUR.LuaAPI.set_processor_param(proc, 2, E.default(2, loop, rate)),
      "Ardour set st rate back to its default")
  H.check(H.wait_until(kSettle, function()
    return H.close(param(2), E.default(2, loop, rate))
  end), "korvane picked up the session tempo " .. tempo .. " at " .. rate ..
      " Hz")
  print(string.format("korvane default loop: %d samples at %d Hz (%.3f s)",
      loop, rate, loop / rate))
  report_defaults(loop)

  -- "bsize" first: the loop-relative parameters convert against the loop
  -- length, which korvane re-derives on its next processed sample.
  set_values(0, 0)
  loop = E.loop_length(tempo, E.sixteenths(values[0]), rate)
  H.check(H.wait_until(kSettle, function()
    return H.close(param(2), E.default(2, loop, rate))
  end), "korvane re-derived its loop from the new bsize")
  print(string.format("korvane loop: %d samples (%d sixteenths at %g bpm)",
      loop, E.sixteenths(values[0]), tempo))
  set_values(1, 10)
end
for i = 0, 10 do
  H.report_value(string.format("%s set %g, read back", E.parameters[i + 1],
      values[i]), param(i), E.readback(i, values[i], loop))
end

record_take(track, frames + rate)
Session:save_state("", false, false, false, false, false)
close_session()
H.finish("session")
