-- wrk script of bench/page-throughput: counts every answer that is not a
-- 200 holding the expected number of table rows (BENCH_ROWS + the head row),
-- and prints the count as "bad answers: N" at the end.
local expected = tonumber(os.getenv("BENCH_ROWS") or "0") + 1
local find = string.find
local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  bad = 0
end

function response(status, headers, body)
  if status ~= 200 then
    bad = bad + 1
    return
  end
  -- Counted in place: a copy of each body (string.gsub) cost wrk more time
  -- per answer than the servers it measures, on the same cores.
  local rows, at = 0, 1
  while true do
    local found = find(body, "<tr>", at, true)
    if not found then break end
    rows = rows + 1
    at = found + 4
  end
  if rows ~= expected then bad = bad + 1 end
end

function done(summary, latency, requests)
  local total = 0
  for _, thread in ipairs(threads) do total = total + thread:get("bad") end
  local e = summary.errors
  io.write(string.format("bad answers: %d\n", total + e.connect + e.read + e.write + e.timeout))
end
