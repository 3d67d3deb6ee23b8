// A video item: its H.264 streams play through mpegts.js (FLV remuxed for
// Media Source Extensions), the one suited to the window and the line
// first, with a choice of stream. A video with no stream a browser can play
// shows its thumbnail and says so.

import { chooseStream, measuredKbps } from './bandwidth.js';
import { h } from './dom.js';
import { probeFLV } from './flv.js';

const PLAYABLE = new Set(['avc']);
const CODEC_NAMES = { spark: 'Sorenson Spark', vp6: 'On2 VP6', screen: 'Screen Video', hevc: 'HEVC', other: 'an old Flash format' };

function streamLabel(s) {
  const size = s.width && s.height ? `${s.width} \u00d7 ${s.height}, ` : '';
  return `${size}${s.bitrate} kbit/s`;
}

function downloads(streams, store) {
  const links = streams.map((s) => store.imageUrl(s.file) && h('li', {},
    h('a', { href: store.imageUrl(s.file), download: '', text: `Download the FLV file (${s.bitrate} kbit/s)` })));
  return h('ul', { class: 'downloads' }, links);
}

function message(figure, text, streams, store) {
  figure.append(h('p', { class: 'video-message', role: 'status', text }), downloads(streams, store));
}

// Puts the player into `figure` (which shows the poster meanwhile); the
// returned function ends it.
export function showVideo(figure, item, store, poster) {
  let player = null;
  let ended = false;
  const stop = () => {
    ended = true;
    if (player) { player.pause(); player.unload(); player.detachMediaElement(); player.destroy(); player = null; }
  };
  (async () => {
    const streams = item.streams.filter((s) => store.imageUrl(s.file));
    // The player's code comes while the streams are looked at.
    const loading = import('mpegts.js');
    loading.catch(() => {});
    const status = h('p', { class: 'video-message', role: 'status', text: 'Looking at the video\u2019s streams\u2026' });
    figure.append(status);
    const probed = await Promise.all(streams.map(async (s) => {
      try { return { ...s, url: store.imageUrl(s.file), ...(await probeFLV(store.imageUrl(s.file))) }; } catch (e) { return { ...s, error: e.message }; }
    }));
    if (ended) return;
    status.remove();
    const playable = probed.filter((s) => PLAYABLE.has(s.videoCodec));
    if (playable.length === 0) {
      const codecs = [...new Set(probed.map((s) => s.videoCodec).filter(Boolean))];
      figure.dataset.state = 'unplayable';
      if (streams.length === 0) message(figure, 'This video has no streams.', [], store);
      else if (codecs.length === 0) message(figure, `This video\u2019s streams could not be read (${probed[0].error}).`, streams, store);
      else message(figure, `This video needs a stream a browser can play (H.264). Its streams are in ${codecs.map((c) => CODEC_NAMES[c] ?? c).join(' and ')}, which only the Flash player showed.`, streams, store);
      return;
    }
    const { default: mpegts } = await loading;
    if (ended) return;
    mpegts.LoggingControl.enableAll = false;
    if (!mpegts.getFeatureList().mseLivePlayback) {
      figure.dataset.state = 'unplayable';
      message(figure, 'This browser cannot play this video here (it lacks Media Source Extensions).', streams, store);
      return;
    }
    const video = h('video', { controls: true, playsinline: true, preload: 'auto', poster,
      'aria-label': item.title.trim() ? item.title : 'Video' });
    figure.querySelector('img.poster')?.remove();
    const select = h('select', { id: 'stream-choice' }, playable.map((s, i) => h('option', { value: i, text: streamLabel(s) })));
    const controls = h('p', { class: 'stream-choice' }, h('label', { for: 'stream-choice', text: 'Stream ' }), select);
    const problem = h('p', { class: 'video-message', role: 'alert', hidden: true });
    figure.prepend(video);
    figure.append(controls, problem);

    const play = (s, at = 0, resume = false) => {
      if (player) { player.unload(); player.detachMediaElement(); player.destroy(); }
      problem.hidden = true;
      figure.dataset.state = 'loading';
      figure.dataset.stream = s.file;
      player = mpegts.createPlayer(
        { type: 'flv', url: s.url, isLive: false, hasAudio: s.hasAudio, hasVideo: true },
        { enableWorker: false, lazyLoad: false, seekType: 'range', reuseRedirectedURL: true, accurateSeek: true });
      player.on(mpegts.Events.ERROR, (type, detail, info) => {
        figure.dataset.state = 'error';
        problem.textContent = `The video could not be played (${[type, detail, info?.msg].filter(Boolean).join(': ')}).`;
        problem.hidden = false;
      });
      player.attachMediaElement(video);
      player.load();
      if (at > 0) video.addEventListener('loadedmetadata', () => { video.currentTime = at; }, { once: true });
      if (resume) video.play().catch(() => {});
    };
    video.addEventListener('loadeddata', () => { if (figure.dataset.state === 'loading') figure.dataset.state = 'ready'; });
    select.addEventListener('change', () => play(playable[select.value], video.currentTime, !video.paused));
    const width = (figure.clientWidth || innerWidth) * devicePixelRatio;
    const chosen = chooseStream(playable, width, measuredKbps());
    select.value = String(playable.indexOf(chosen));
    play(chosen);
  })().catch((e) => {
    if (!ended) message(figure, `The video could not be shown (${e.message}).`, item.streams, store);
  });
  return stop;
}
