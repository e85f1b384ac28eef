-- What korvane should report to a host: identity, defaults and read-backs,
-- for each of its two forms: the VST 2 library (this table) and the LV2
-- bundle (its field `lv2`).
--
-- The VST 2 library counts samples at the session's rate, which it adopts when Ardour
-- resumes it, and converts "st rate", "pos" and "len" against its loop
-- length L, which its engine derives from the host's tempo, "bsize" and that
-- rate. These functions mirror those documented mappings so that the test
-- can predict every value that Ardour reads back.
local M = {}

M.name = "korvane"
M.maker = "zvk"
M.unique_id = "1198347124" -- the four characters GmSt
M.type = "LXVST"
M.category = "Effect"
M.converts = true -- answers values converted against its loop
M.inputs = 2
M.outputs = 2
M.parameters = { "bsize", "rec thrsh", "st rate", "st jitter", "pos",
                 "pos jitter", "len", "len jitter", "tp", "p jitter", "env" }

local kBaseRate = 44100 -- the rate of the defaults below
local kMinStep = 42
local kDefaultSixteenths = 16
local kDefaultInterval = 882
local kDefaultLength = 4000

local function trunc(x)
  if x < 0 then return -math.floor(-x) end
  return math.floor(x)
end

-- The value as the host passes it: rounded to single precision.
local function single(x) return (string.unpack("<f", string.pack("<f", x))) end

-- Loop length in samples at `rate` for a tempo and a number of sixteenths.
function M.loop_length(tempo, sixteenths, rate)
  return trunc(sixteenths * (60 / (tempo * 4)) * rate)
end

-- A default count of samples at 44100 Hz as korvane keeps it at `rate`: the
-- part above the mapping's minimum scaled to the nearest sample.
local function at_rate(count, rate)
  return kMinStep + math.floor((count - kMinStep) * rate / kBaseRate + 0.5)
end

function M.sixteenths(v) return trunc(single(v) * 63) + 1 end

-- Per index: the normalised value that getParameter answers after
-- setParameter(v), both with loop length L.
local readback = {
  [0] = function(v) return (M.sixteenths(v) - 1) / 63 end,
  [2] = function(v, L)
    local steps = L // 16
    return trunc(steps * single(v)) / steps
  end,
  [4] = function(v, L) return trunc(L * single(v)) / L end,
  [6] = function(v, L) return trunc(L / 4 * single(v)) / (L / 4) end,
  [8] = function(v) return trunc(single(v) * 48) / 48 end,
  [10] = function(v) return (single(single(v) * 5 + 1) - 1) / 5 end,
}

function M.readback(index, v, L)
  local mapping = readback[index]
  if mapping then return mapping(v, L) end
  return single(v)
end

-- Per index: what getParameter answers before anything is set, once the
-- engine has derived the loop length L from the host's tempo at `rate`.
function M.default(index, L, rate)
  if index == 0 then return (kDefaultSixteenths - 1) / 63 end
  if index == 2 then
    return (at_rate(kDefaultInterval, rate) - kMinStep) / (L // 16)
  end
  if index == 6 then
    return (at_rate(kDefaultLength, rate) - kMinStep) / (L / 4)
  end
  if index == 8 then return 0.5 end
  return 0.0
end

function M.default_loop(tempo, rate)
  return M.loop_length(tempo, kDefaultSixteenths, rate)
end

-- The LV2 bundle: its control ports carry the settings in their own units
-- ("st rate", "pos" and "len" as the VST 2 values), and they are the host's:
-- Ardour reads back what it set, as a 32-bit float, and korvane converts
-- nothing that the host could read. Where korvane counts its loop shows in
-- the render only.
local lv2_defaults = { [0] = 16, 0, 0.152394772, 0, 0, 0, 0.179501131, 0, 0,
                       0, 1 }
M.lv2 = {
  name = "korvane",
  unique_id = "urn:zvk:korvane",
  type = "LV2",
  inputs = 2,
  outputs = 2,
  parameters = M.parameters,
  converts = false,
  readback = function(_, v) return single(v) end,
  default = function(index) return single(lv2_defaults[index]) end,
}

return M
