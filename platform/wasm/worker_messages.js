// The input of vorna-worker-messages.js: {input: text} messages from the page, {close: true} at its end
// (message_input.js).
Module['vornaInput'] = new VornaMessageInput();
onmessage = function (event) {
  var message = event.data;
  if (typeof message.input === 'string') Module['vornaInput'].push(new TextEncoder().encode(message.input));
  else if (message.close) Module['vornaInput'].close();
};
