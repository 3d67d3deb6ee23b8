// How fast this visitor's pictures arrived: the median rate of the last
// larger files fetched, else what the browser guesses, else null.

export function measuredKbps() {
  const rates = performance.getEntriesByType('resource')
    .filter((e) => e.transferSize > 16384 && e.responseEnd > e.requestStart)
    .slice(-12)
    .map((e) => (e.transferSize * 8) / (e.responseEnd - e.requestStart)) // bits per ms = kbit/s
    .sort((a, b) => a - b);
  if (rates.length) return rates[Math.floor(rates.length / 2)];
  const downlink = navigator.connection?.downlink; // Mbit/s
  return downlink ? downlink * 1000 : null;
}

// The stream that suits a player `width` device pixels wide and the rate
// measured: the richest one the line carries with room to spare, among
// those not much wider than the player. `streams`: [{ bitrate, width }].
export function chooseStream(streams, width, kbps) {
  if (streams.length === 0) return null;
  const byRate = [...streams].sort((a, b) => b.bitrate - a.bitrate);
  let fitting = byRate.filter((s) => !s.width || s.width <= width * 1.25);
  if (fitting.length === 0) fitting = [byRate.reduce((a, b) => (a.width <= b.width ? a : b))];
  if (!kbps) return fitting[Math.floor((fitting.length - 1) / 2)];
  return fitting.find((s) => s.bitrate <= kbps * 0.8) ?? fitting[fitting.length - 1];
}
