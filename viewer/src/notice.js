// The notice banner: what the page's scene leaves out (layers of the layout that the technology
// does not draw), given by the page's writer as plain text in <script id="tarnwick-notice">. Shown
// over the view until closed; nothing happens when the page has no notice.
function showNotice() {
  const data = document.getElementById('tarnwick-notice');
  if (!data) return;
  let text;
  try {
    text = JSON.parse(data.textContent);
  } catch {
    return;
  }
  if (typeof text !== 'string' || !text) return;
  const banner = document.createElement('div');
  banner.id = 'tw-notice';
  banner.setAttribute('role', 'status');
  Object.assign(banner.style, {
    position: 'fixed', left: '50%', bottom: '12px', transform: 'translateX(-50%)', zIndex: '20',
    maxWidth: '80%', maxHeight: '40%', overflow: 'auto', padding: '8px 32px 8px 12px',
    background: '#fff4d6', color: '#3a2a00', border: '1px solid #d9a400', borderRadius: '4px',
    font: '12px/1.4 ui-monospace, monospace', whiteSpace: 'pre-wrap',
  });
  banner.textContent = text;
  const close = document.createElement('button');
  close.type = 'button';
  close.textContent = '×';
  close.title = 'close';
  Object.assign(close.style, {
    position: 'absolute', top: '2px', right: '4px', border: 'none', background: 'none',
    font: '16px sans-serif', cursor: 'pointer', color: 'inherit',
  });
  close.addEventListener('click', () => banner.remove());
  banner.append(close);
  document.body.append(banner);
  document.body.dataset.twNotice = 'shown';
}

if (document.readyState === 'loading') {
  document.addEventListener('DOMContentLoaded', showNotice, { once: true });
} else {
  showNotice();
}
