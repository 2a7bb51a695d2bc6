-- wrk sends the phone's requests exactly as pelmora.exe writes them ("POST http://HOST HTTP/1.0",
-- "Host: KIND.HOST", the form body and the CR LF after it), one per connection: both the server and
-- nginx close the connection after each reply. The requests come from the Lua file that
-- PELMORA_BENCH_REQUESTS names (it returns a list of strings); each thread starts at its own place in
-- the list and takes them in turn, so that every request of a run carries another user's token.
-- At the end one line "wrk-result {JSON}" gives the counts and the latency percentiles.

local requests = dofile(os.getenv("PELMORA_BENCH_REQUESTS"))
local threads_made = 0
local next_request = 0

function setup(thread)
   thread:set("thread_number", threads_made)
   threads_made = threads_made + 1
end

-- The threads start far apart in the list (a prime's multiples), not knowing how many there are.
function init(args)
   next_request = ((thread_number or 0) * 7919) % #requests
end

function request()
   next_request = next_request + 1
   return requests[(next_request - 1) % #requests + 1]
end

function done(summary, latency, requests)
   local errors = summary.errors
   io.write(string.format(
      'wrk-result {"requests": %d, "duration_us": %d, "bytes": %d, "connect_errors": %d, "read_errors": %d, ' ..
      '"write_errors": %d, "status_errors": %d, "timeouts": %d, "p50_us": %d, "p90_us": %d, "p99_us": %d, ' ..
      '"max_us": %d}\n',
      summary.requests, summary.duration, summary.bytes, errors.connect, errors.read, errors.write, errors.status,
      errors.timeout, latency:percentile(50), latency:percentile(90), latency:percentile(99), latency.max))
end
