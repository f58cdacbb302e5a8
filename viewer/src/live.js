// The live connection of a page served by `tarnwick serve`: a WebSocket back to the server (the
// token comes from the page's own URL) that shows each depthview scene as it arrives and lists
// the reload messages in the page's event list. It reconnects whenever the connection drops, so
// a page left open follows a server that is restarted. Pages opened from a file stay offline.

const RETRY_FIRST_MS = 500;
const RETRY_MAX_MS = 5000;

const token = new URLSearchParams(window.location.search).get('token');
const served = window.location.protocol === 'http:' || window.location.protocol === 'https:';

function setLive(state) {
  document.body.dataset.twLive = state;
}

// The page's interface (window.tarnwick), once the page script has set it up.
function pageReady() {
  return new Promise((resolve) => {
    const look = () => (window.tarnwick && window.tarnwick.show ? resolve(window.tarnwick) : setTimeout(look, 20));
    look();
  });
}

async function note(text) {
  (await pageReady()).note(text);
}

// Scenes are drawn one at a time; when several arrive while one is being drawn, only the newest
// is drawn next.
let drawing = false;
let waiting = null;
async function draw(frame) {
  waiting = frame;
  if (drawing) return;
  drawing = true;
  const page = await pageReady();
  while (waiting) {
    const next = waiting;
    waiting = null;
    try {
      // null: a newer scene took its place before it was drawn.
      const shown = await page.show(next.message.content, { keepCamera: 'auto' });
      if (shown !== null) {
        const polygons = Number(document.body.dataset.twPolygons || 0);
        page.note(`scene #${next.seq}: ${polygons.toLocaleString()} polygons`);
      }
    } catch (error) {
      page.note(`scene #${next.seq} could not be shown: ${error.message}`);
    }
  }
  drawing = false;
}

function connect() {
  let server = null; // the server instance the last scene came from
  let lastSeq = 0;
  let retry = RETRY_FIRST_MS;
  let everConnected = false;
  let closed = 0; // connections ended or refused, for tests that wait for the next attempt

  const open = () => {
    setLive('connecting');
    const scheme = window.location.protocol === 'https:' ? 'wss' : 'ws';
    const socket = new WebSocket(
      `${scheme}://${window.location.host}/ws?token=${encodeURIComponent(token)}`,
    );
    socket.addEventListener('open', () => {
      retry = RETRY_FIRST_MS;
      setLive('connected');
      note(everConnected ? 'reconnected to the live viewer' : 'connected to the live viewer');
      const title = document.getElementById('tw-title');
      if (title && document.body.dataset.twState === 'empty') {
        title.textContent = 'Waiting for a scene: call depthview, or tarnwick view NAME --serve';
      }
      everConnected = true;
    });
    socket.addEventListener('message', (event) => {
      let frame;
      try {
        frame = JSON.parse(event.data);
      } catch (error) {
        note(`unreadable message from the server: ${error.message}`);
        return;
      }
      if (frame.type === 'hello') {
        if (frame.server !== server) lastSeq = 0; // a new server counts afresh
        server = frame.server;
      } else if (frame.type === 'DepthviewMessage') {
        if (frame.seq <= lastSeq) return; // the replay of a scene already drawn
        lastSeq = frame.seq;
        draw(frame);
      } else if (frame.type === 'ReloadLayoutMessage') {
        note(`layout of ${frame.message.cell} reloaded`);
      } else if (frame.type === 'ReloadFactoriesMessage') {
        note('factories reloaded');
      } else if (frame.type === 'NoticeMessage') {
        note(frame.message.text);
      }
    });
    socket.addEventListener('close', () => {
      closed += 1;
      document.body.dataset.twLiveClosed = String(closed);
      setLive('disconnected');
      if (everConnected && retry === RETRY_FIRST_MS) note('connection to the live viewer lost, retrying');
      setTimeout(open, retry);
      retry = Math.min(retry * 2, RETRY_MAX_MS);
    });
  };
  open();
}

if (served && token) {
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', connect);
  else connect();
}
